#include "NpmCommands.h"

#include "services/ProcessRunner.h"

#include <QDir>
#include <QFileInfo>

namespace halvik::NpmCommands {

QStringList pathFor(const NodeRuntime::Toolchain& node, const QStringList& phpEntries)
{
    QStringList entries{node.binDirectory};
    entries << phpEntries << QString::fromLatin1(ProcessRunner::fallbackPath).split(QLatin1Char(':'));
    entries.removeDuplicates();
    entries.removeAll(QString());
    return entries;
}

QStringList installArguments(const QString& folder)
{
    if (QFileInfo::exists(QDir(folder).filePath(QStringLiteral("package-lock.json"))))
        return {QStringLiteral("ci")};
    return {QStringLiteral("install")};
}

ProcessRequest install(const QString& folder, const NodeRuntime::Toolchain& node, const QStringList& path)
{
    ProcessRequest request;
    request.executable = node.npm;
    request.arguments = installArguments(folder);
    request.workingDirectory = folder;
    request.environment = {{QStringLiteral("CI"), QStringLiteral("1")},
                           {QStringLiteral("npm_config_yes"), QStringLiteral("true")},
                           {QStringLiteral("npm_node_execpath"), node.node},
                           {QStringLiteral("PATH"), path.join(QLatin1Char(':'))}};
    return request;
}

ProcessRequest runScript(const QString& folder, const NodeRuntime::Toolchain& node, const QStringList& path,
                         const QString& script, const QMap<QString, QString>& extra)
{
    ProcessRequest request;
    request.executable = node.npm;
    request.arguments = {QStringLiteral("run"), script};
    request.workingDirectory = folder;
    request.environment = extra;
    request.environment.insert(QStringLiteral("npm_node_execpath"), node.node);
    request.environment.insert(QStringLiteral("PATH"), path.join(QLatin1Char(':')));
    return request;
}

} // namespace halvik::NpmCommands
