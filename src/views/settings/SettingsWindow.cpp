#include "views/settings/SettingsWindow.h"

#include "views/accounts/SourceControlPage.h"
#include "views/settings/GeneralSettingsPane.h"
#include "views/settings/RuntimeSettingsPane.h"

#include "platform/AppDataDir.h"

#include <QFormLayout>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

namespace halvik::views {

SettingsWindow::SettingsWindow(AppServices& services, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Settings"));
    setObjectName("settingsWindow");
    resize(640, 620);
    m_tabs = new QTabWidget(this);

    // General: the same everyday preferences as the window's Settings section, then where
    // Halvik keeps its own files, so a person can find or back them up.
    auto* general = new QWidget(m_tabs);
    auto* generalLayout = new QVBoxLayout(general);
    auto* pane = new GeneralSettingsPane(services, general);
    generalLayout->addWidget(pane);
    // A group of its own under the pane's, indented and aligned the way the pane's rows are.
    const QMargins inset = pane->layout() ? pane->layout()->contentsMargins() : QMargins();
    auto* files = new QLabel(QStringLiteral("Halvik’s files"), general);
    QFont bold = files->font();
    bold.setBold(true);
    files->setFont(bold);
    files->setContentsMargins(inset.left(), 0, 0, 0);
    generalLayout->addWidget(files);
    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    form->setContentsMargins(inset.left(), 0, inset.right(), 0);
    generalLayout->addLayout(form);
    generalLayout->addStretch();
    auto* folder = new QLabel(AppDataDir::directory(), general);
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(QStringLiteral("Data folder"), folder);
    auto* store = new QLabel(services.store().filePath(), general);
    store->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(QStringLiteral("Site registry"), store);
    m_tabs->addTab(general, QStringLiteral("General"));
    m_tabs->addTab(new RuntimeSettingsPane(services.runtime(), m_tabs), QStringLiteral("Runtimes"));
    m_tabs->addTab(new SourceControlPage(services.sourceControl(), m_tabs), QStringLiteral("Source Control"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
}

} // namespace halvik::views
