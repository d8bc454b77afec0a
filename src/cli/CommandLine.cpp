#include "CommandLine.h"

#include <QCoreApplication>
#include <QTextStream>

namespace halvik::cli {

int run(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == "--version") {
        out << "halvik " << HALVIK_VERSION << Qt::endl;
        return 0;
    }
    QTextStream(stderr) << "halvik: unknown command " << args.value(0) << Qt::endl;
    return 1;
}

} // namespace halvik::cli
