#include "GuiProgram.h"

#include "CommandTable.h"

#include "platform/SiblingProgram.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace halvik::cli {

bool belongsToGuiProgram(int argc, char** argv)
{
    if (argc < 2)
        return true;
    const CliCommand* command = findCommand(QString::fromLocal8Bit(argv[1]));
    return command && command->drawsImages;
}

QString guiProgramPath()
{
    char path[PATH_MAX];
    if (!siblingProgramPath("halvik-gui", path, sizeof path))
        return QStringLiteral("halvik-gui");
    return QFile::decodeName(path);
}

int handOverToGuiProgram(char** argv)
{
    const QByteArray path = QFile::encodeName(guiProgramPath());
    // argv[0] stays as typed: the window's class name on the desktop comes from it.
    ::execv(path.constData(), argv);
    const int error = errno;
    std::fprintf(stderr, "halvik: Couldn’t start %s: %s.\n", path.constData(), std::strerror(error));
    return 1;
}

} // namespace halvik::cli
