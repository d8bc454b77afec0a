#include "views/help/UpdateDialog.h"

#include "views/common/SemanticColors.h"

#include "platform/Browser.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvik::views {

UpdateDialog::UpdateDialog(QWidget* parent)
    : QDialog(parent), m_headline(new QLabel(this)), m_details(new QLabel(this)),
      m_busy(new QProgressBar(this)), m_openUrl(&Browser::open)
{
    setWindowTitle(QStringLiteral("Check for Updates"));
    setObjectName(QStringLiteral("updateDialog"));

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/halvik/halvik.svg")).pixmap(56, 56));
    icon->setAlignment(Qt::AlignTop);

    QFont bold = m_headline->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    m_headline->setFont(bold);
    m_headline->setWordWrap(true);
    m_details->setWordWrap(true);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_busy->setRange(0, 0); // no end known: a busy bar
    m_busy->setTextVisible(false);

    // Which buttons show depends on the outcome.
    m_download = new QPushButton(QStringLiteral("Download"), this);
    m_close = new QPushButton(QStringLiteral("Close"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_download);
    buttons->addWidget(m_close);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_download, &QPushButton::clicked, this, [this] {
        if (m_releasePage)
            m_openUrl(*m_releasePage);
        accept();
    });

    auto* text = new QVBoxLayout;
    text->setSpacing(8);
    text->addWidget(m_headline);
    text->addWidget(m_details);
    text->addWidget(m_busy);
    text->addStretch();
    auto* row = new QHBoxLayout;
    row->setSpacing(16);
    row->addWidget(icon);
    row->addLayout(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->addLayout(row, 1);
    layout->addLayout(buttons);
    setMinimumWidth(420);
    showChecking();
}

void UpdateDialog::showChecking()
{
    m_failed = false;
    m_releasePage.reset();
    m_headline->setText(QStringLiteral("Checking for updates…"));
    m_details->clear();
    m_details->hide();
    m_busy->show();
    m_download->hide();
    m_close->setDefault(true);
}

void UpdateDialog::showResult(const UpdateCheckResult& result)
{
    m_checking = false;
    m_busy->hide();
    m_headline->setText(result.message());
    m_failed = false;
    colourDetails();
    if (result.isUpdateAvailable()) {
        m_releasePage = result.latest.url;
        m_details->setText(result.latest.notes.isEmpty()
                               ? QStringLiteral("You have %1.").arg(result.currentVersion)
                               : result.latest.notes +
                                     QStringLiteral("\n\nYou have %1.").arg(result.currentVersion));
        m_download->show();
        m_download->setDefault(true);
        m_download->setFocus();
    } else {
        m_releasePage.reset();
        m_details->setText(QStringLiteral("Version %1 is the newest.").arg(result.currentVersion));
        m_download->hide();
        m_close->setDefault(true);
    }
    m_details->show();
}

void UpdateDialog::showFailure(const QString& sentence)
{
    m_checking = false;
    m_busy->hide();
    m_download->hide();
    m_headline->setText(QStringLiteral("Couldn’t check for updates"));
    m_failed = true;
    colourDetails();
    m_details->setText(sentence);
    m_details->show();
    m_close->setDefault(true);
}

void UpdateDialog::colourDetails()
{
    QPalette details = palette();
    if (m_failed)
        details.setColor(QPalette::WindowText, semanticColor(Semantic::danger, palette()));
    m_details->setPalette(details);
}

void UpdateDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // A failure's colour is chosen for the appearance in use; a new appearance chooses again.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        colourDetails();
}

QCoro::Task<> UpdateDialog::check()
{
    const LifeToken alive = m_life.token();
    m_checking = true;
    showChecking();
    std::optional<UpdateCheckResult> result;
    QString failure;
    try {
        UpdateChecker checker;
        result = co_await checker.check();
    } catch (const UpdateCheckError& error) {
        failure = error.description();
    }
    if (!alive)
        co_return;
    if (result)
        showResult(*result);
    else
        showFailure(failure);
    Q_EMIT checkFinished();
}

} // namespace halvik::views
