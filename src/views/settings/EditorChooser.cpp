#include "views/settings/EditorChooser.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QIcon applicationIcon(const QString& icon)
{
    if (QFileInfo(icon).isAbsolute())
        return QIcon(icon);
    return QIcon::fromTheme(icon, QIcon::fromTheme(QStringLiteral("application-x-executable")));
}

} // namespace

EditorChooser::EditorChooser(const QList<EditorApplications::Application>& applications,
                             const QString& message, const QString& acceptText, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Choose Editor"));
    resize(460, 520);
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(message, this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    m_list = new QListWidget(this);
    m_list->setObjectName("editorApplications");
    const int side = style()->pixelMetric(QStyle::PM_ListViewIconSize) * 3 / 2;
    m_list->setIconSize(QSize(side, side));
    m_list->setSpacing(1);
    for (const auto& application : applications) {
        auto* item = new QListWidgetItem(applicationIcon(application.icon), application.name, m_list);
        item->setData(Qt::UserRole, application.desktopFile);
        item->setToolTip(application.desktopFile);
    }
    layout->addWidget(m_list, 1);

    auto* buttons = new QDialogButtonBox(this);
    m_other = buttons->addButton(QStringLiteral("Other…"), QDialogButtonBox::ResetRole);
    m_choose = buttons->addButton(acceptText, QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    m_choose->setEnabled(false);
    layout->addWidget(buttons);

    connect(m_list, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem* item) { m_choose->setEnabled(item != nullptr); });
    connect(m_list, &QListWidget::itemActivated, this, [this] { m_choose->click(); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (QListWidgetItem* item = m_list->currentItem()) {
            m_chosen = item->data(Qt::UserRole).toString();
            accept();
        }
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // A program anywhere: a file dialog over this one, opened without a loop of its own.
    connect(m_other, &QPushButton::clicked, this, [this] {
        auto* files = new QFileDialog(this, QStringLiteral("Other…"), QStringLiteral("/usr/bin"));
        files->setFileMode(QFileDialog::ExistingFile);
        files->setAttribute(Qt::WA_DeleteOnClose);
        connect(files, &QFileDialog::fileSelected, this, &EditorChooser::chooseOther);
        files->open();
    });
    if (m_list->count() > 0)
        m_list->setCurrentRow(0);
}

void EditorChooser::chooseOther(const QString& program)
{
    if (program.isEmpty())
        return;
    m_chosen = program;
    accept();
}

} // namespace halvik::views
