#include "views/help/AboutDialog.h"

#include "views/common/FileManager.h"
#include "views/common/SemanticColors.h"

#include "platform/AppDataDir.h"
#include "platform/Browser.h"
#include "platform/PlatformTexts.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace halvik::views {

QUrl AboutDialog::projectPage()
{
    return QUrl(QStringLiteral("https://halvik.app"));
}

QString AboutDialog::licence()
{
    return QStringLiteral("MIT License");
}

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent), m_version(new QLabel(this)), m_page(new QLabel(this)), m_dataFolder(new QLabel(this)),
      m_showDataFolder(new QPushButton(PlatformTexts::showInFileManager(), this)), m_openUrl(&Browser::open),
      m_showFolder(&showInFileManager)
{
    setWindowTitle(QStringLiteral("About Halvik"));
    setObjectName(QStringLiteral("aboutDialog"));

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/halvik/halvik.svg")).pixmap(96, 96));
    icon->setAlignment(Qt::AlignHCenter);
    auto* name = new QLabel(QStringLiteral("Halvik"), this);
    QFont large = name->font();
    large.setBold(true);
    large.setPointSizeF(large.pointSizeF() * 1.6);
    name->setFont(large);
    name->setAlignment(Qt::AlignHCenter);
    m_version->setText(QStringLiteral("Version %1").arg(QStringLiteral(HALVIK_VERSION)));
    m_version->setAlignment(Qt::AlignHCenter);
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* summary = new QLabel(
        QStringLiteral("Create, serve, update and deploy your local Laravel and Quillmar sites."), this);
    summary->setAlignment(Qt::AlignHCenter);
    summary->setWordWrap(true);

    m_page->setTextInteractionFlags(Qt::TextBrowserInteraction);
    colourLink();
    connect(m_page, &QLabel::linkActivated, this, [this](const QString& link) { m_openUrl(QUrl(link)); });
    const QString folder = AppDataDir::directory();
    m_dataFolder->setText(folder);
    m_dataFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_dataFolder->setWordWrap(true);
    connect(m_showDataFolder, &QPushButton::clicked, this, [this, folder] { m_showFolder(folder); });

    auto* facts = new QFormLayout;
    facts->setLabelAlignment(Qt::AlignRight);
    facts->addRow(QStringLiteral("Licence"), new QLabel(licence(), this));
    facts->addRow(QStringLiteral("Website"), m_page);
    facts->addRow(QStringLiteral("Data folder"), m_dataFolder);
    auto* showRow = new QHBoxLayout;
    showRow->addWidget(m_showDataFolder);
    showRow->addStretch();
    facts->addRow(QString(), showRow);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 16);
    layout->setSpacing(6);
    layout->addWidget(icon);
    layout->addWidget(name);
    layout->addWidget(m_version);
    layout->addSpacing(4);
    layout->addWidget(summary);
    layout->addSpacing(12);
    layout->addLayout(facts);
    layout->addStretch();
    layout->addWidget(buttons);
    setMinimumWidth(440);
}

void AboutDialog::colourLink()
{
    // The style's own link blue is too dark to read on a dark window; the label keeps the
    // colour it was given in its text, so the text is written again for each appearance.
    m_page->setText(QStringLiteral("<a href=\"%1\" style=\"color: %2\">%3</a>")
                        .arg(projectPage().toString(), semanticColor(Semantic::info, palette()).name(),
                             projectPage().host()));
}

void AboutDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        colourLink();
}

} // namespace halvik::views
