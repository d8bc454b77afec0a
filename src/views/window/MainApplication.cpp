#include "views/window/MainApplication.h"

#include "views/common/Appearance.h"
#include "views/common/WidgetPrompts.h"
#include "views/window/MainWindow.h"
#include "views/window/StartupReport.h"

#include "async/FireAndForget.h"
#include "platform/Log.h"
#include "platform/QuitSignals.h"
#include "platform/SingleInstance.h"
#include "services/ProcessRunner.h"

#include <QApplication>
#include <QTimer>

#include <memory>

namespace halvik::views {

int runWindowApplication(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Halvik"));
    QApplication::setOrganizationName(QStringLiteral("Halvik"));
    QApplication::setApplicationVersion(QStringLiteral(HALVIK_VERSION));
    installIconTheme();
    QApplication::setWindowIcon(applicationIcon());
    QApplication::setDesktopFileName(QStringLiteral("halvik"));

    // One window per user: a second start brings the first to the front and leaves.
    SingleInstance instance;
    if (!instance.claim()) {
        qCInfo(halvikLog) << "Halvik is already open; asked its window to come to the front";
        return 0;
    }
    // Being asked to end quits like closing the window: the same sequence stops and saves.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::received, &app, [](int number) {
        qCInfo(halvikLog) << "Halvik received signal" << number << "and quits";
        QCoreApplication::quit();
    });

    WidgetPrompts prompts;
    AppServices services(SecretStore::shared(), prompts);
    services.store().startReading();
    // The window draws icons and previews: their service is in place before start-up warms it.
    services.appearance();
    // The two enumerations list system, light and dark in the same order.
    services.preferences().setAppearanceApplier(
        [](AppearancePreference appearance) { applyColorScheme(ColorScheme(int(appearance))); });
    services.preferences().applyAppearance();
    // Held so it can go before the services at quit: its Git tab stops its workspace then.
    auto owned = std::make_unique<MainWindow>(services);
    MainWindow& window = *owned;
    prompts.setParentWindow(&window);

    QObject::connect(&instance, &SingleInstance::raiseRequested, &window, [&window] {
        qCInfo(halvikLog) << "Halvik was started again; bringing the window to the front";
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
    });

    // Closing the last window quits; at quit whatever Halvik started is stopped and the
    // store is saved last.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &services, [&services] { services.shutdown(); });

    reportStartupPaints(window);
    window.show();
    // Start-up runs once the window is on screen; the list fills in as the store loads.
    // The window follows store.json, so a site a command adds or removes shows up at once.
    services.store().watchForChanges();
    QTimer::singleShot(0, &services, [&services] { fireAndForget(&services, services.bootstrap()); });
    const int status = app.exec();
    // The window's workspaces cancel what they still run (a fetch, say). The runs' own threads
    // stop those children; give them a moment, so none outlives Halvik.
    prompts.setParentWindow(nullptr);
    owned.reset();
    if (!ProcessRunner::waitForRunsToEnd(3000))
        qCWarning(halvikLog) << "Halvik quit while child processes were still ending";
    return status;
}

} // namespace halvik::views
