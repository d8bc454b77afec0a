#pragma once

#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QPointer>

class QAction;
class QMainWindow;

namespace halvik {
class AppServices;
}

namespace halvik::views {

class AboutDialog;
class UpdateDialog;

// The window's Help menu: "About Halvik" and "Check for Updates…". Also runs the weekly check
// at start-up when the preference asks for it, and speaks only when it found a newer release.
class HelpMenu : public QObject
{
    Q_OBJECT
public:
    // Adds the menu to `window`'s menu bar; the menu lives as long as the window.
    HelpMenu(AppServices& services, QMainWindow* window);

    QAction* aboutAction() const { return m_about; }
    QAction* checkForUpdatesAction() const { return m_checkForUpdates; }

    AboutDialog* showAbout();
    UpdateDialog* checkForUpdates();
    // The start-up check: when the weekly check is on and due at `now`, asks the feed quietly,
    // notes when, and shows the update dialog only when a newer Halvik is out. Resolves to
    // whether it asked.
    QCoro::Task<bool> checkWeeklyIfDue(QDateTime now);

private:
    UpdateDialog* updateDialog();
    QCoro::Task<> checkAtStart();

    AppServices& m_services;
    QMainWindow* m_window;
    QAction* m_about;
    QAction* m_checkForUpdates;
    QPointer<AboutDialog> m_aboutDialog;
    QPointer<UpdateDialog> m_updateDialog;
    LifeGuard m_life;
};

} // namespace halvik::views
