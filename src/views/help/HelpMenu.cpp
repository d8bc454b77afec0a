#include "views/help/HelpMenu.h"

#include "views/help/AboutDialog.h"
#include "views/help/UpdateDialog.h"

#include "app/AppServices.h"
#include "async/FireAndForget.h"
#include "models/AppPreferences.h"
#include "services/updates/UpdateChecker.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

namespace halvik::views {

HelpMenu::HelpMenu(AppServices& services, QMainWindow* window)
    : QObject(window), m_services(services), m_window(window)
{
    setObjectName(QStringLiteral("helpMenu"));
    QMenu* menu = window->menuBar()->addMenu(QStringLiteral("&Help"));
    menu->setObjectName(QStringLiteral("helpMenu"));
    m_checkForUpdates = menu->addAction(QStringLiteral("Check for Updates…"));
    m_checkForUpdates->setObjectName(QStringLiteral("checkForUpdates"));
    m_checkForUpdates->setMenuRole(QAction::ApplicationSpecificRole);
    connect(m_checkForUpdates, &QAction::triggered, this, [this] { checkForUpdates(); });
    menu->addSeparator();
    m_about = menu->addAction(QStringLiteral("About Halvik"));
    m_about->setObjectName(QStringLiteral("about"));
    m_about->setMenuRole(QAction::AboutRole);
    connect(m_about, &QAction::triggered, this, [this] { showAbout(); });

    // Once the window is up, and never before the person could see what it is about.
    QTimer::singleShot(0, this, [this] { fireAndForget(this, checkAtStart()); });
}

AboutDialog* HelpMenu::showAbout()
{
    if (!m_aboutDialog) {
        m_aboutDialog = new AboutDialog(m_window);
        m_aboutDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_aboutDialog->show();
    m_aboutDialog->raise();
    return m_aboutDialog;
}

UpdateDialog* HelpMenu::updateDialog()
{
    if (!m_updateDialog) {
        m_updateDialog = new UpdateDialog(m_window);
        m_updateDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    return m_updateDialog;
}

UpdateDialog* HelpMenu::checkForUpdates()
{
    UpdateDialog* dialog = updateDialog();
    dialog->show();
    dialog->raise();
    if (!dialog->isChecking())
        fireAndForget(dialog, dialog->check());
    return dialog;
}

QCoro::Task<> HelpMenu::checkAtStart()
{
    co_await checkWeeklyIfDue(QDateTime::currentDateTimeUtc());
}

QCoro::Task<bool> HelpMenu::checkWeeklyIfDue(QDateTime now)
{
    AppPreferences& preferences = m_services.preferences();
    if (!UpdateChecker::isWeeklyCheckDue(preferences.checkForUpdatesWeekly(), preferences.lastUpdateCheck(),
                                         now))
        co_return false;
    const LifeToken alive = m_life.token();
    std::optional<UpdateCheckResult> result;
    try {
        UpdateChecker checker;
        result = co_await checker.check();
    } catch (const UpdateCheckError&) {
        // Unasked, a failure is not worth a word; the next start tries again.
    }
    if (!alive || !result)
        co_return true;
    preferences.setLastUpdateCheck(now);
    if (result->isUpdateAvailable() && !(m_updateDialog && m_updateDialog->isChecking())) {
        UpdateDialog* dialog = updateDialog();
        dialog->showResult(*result);
        dialog->show();
    }
    co_return true;
}

} // namespace halvik::views
