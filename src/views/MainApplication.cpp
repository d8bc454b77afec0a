#include "MainApplication.h"

#include "Appearance.h"
#include "MainWindow.h"
#include "WidgetPrompts.h"

#include <QApplication>
#include <QCoroTask>
#include <QTimer>

namespace halvik::views {

int runWindowApplication(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Halvik"));
    QApplication::setOrganizationName(QStringLiteral("Halvik"));
    QApplication::setApplicationVersion(QStringLiteral(HALVIK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("halvik"));

    WidgetPrompts prompts;
    AppServices services(SecretStore::shared(), prompts);
    // The two enumerations list system, light and dark in the same order.
    services.preferences().setAppearanceApplier(
        [](AppearancePreference appearance) { applyColorScheme(ColorScheme(int(appearance))); });
    services.preferences().applyAppearance();
    MainWindow window(services);
    prompts.setParentWindow(&window);

    // Closing the last window quits; at quit whatever Halvik started is stopped and the
    // store is saved last.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &services, [&services] { services.shutdown(); });

    window.show();
    // Start-up runs once the window is on screen; the list fills in as the store loads.
    QTimer::singleShot(0, &services, [&services] { QCoro::connect(services.bootstrap(), &services, [] {}); });
    return app.exec();
}

} // namespace halvik::views
