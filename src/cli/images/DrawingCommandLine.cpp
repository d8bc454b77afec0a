#include "DrawingCommandLine.h"

#include "AppearanceRunners.h"

#include "cli/CommandLine.h"

#include <QGuiApplication>

namespace halvik::cli {

namespace {

// Verbs that draw images need fonts and image plugins, which come with a GUI application; no
// window is ever shown, so the offscreen platform serves wherever the command runs.
std::unique_ptr<QCoreApplication> makeDrawingApplication(int& argc, char** argv, const CliCommand* command)
{
    if (!command || !command->drawsImages)
        return makeApplication(argc, argv, command);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace

int runDrawingCommand(int argc, char** argv)
{
    setAppearanceRunners(drawingAppearanceRunners());
    return run(argc, argv, makeDrawingApplication);
}

} // namespace halvik::cli
