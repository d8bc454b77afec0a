#pragma once

#include "TestPaths.h"

#include "services/ProcessRunner.h"
#include "services/frontend/ViteDevServer.h"
#include "services/runtime/RuntimeManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace halvik::test {

// A site folder with a package.json and the fixture's tiny Node dev servers beside it.
struct NodeProject
{
    QTemporaryDir dir;
    SitePtr site;

    explicit NodeProject(const QJsonObject& package, bool nodeModules = true)
    {
        writeInto(dir.path(), package, nodeModules);
        site = std::make_shared<Site>(QStringLiteral("Fixture"), dir.path());
    }

    // The package.json, the fixture's scripts and (unless told) an empty node_modules.
    static void writeInto(const QString& folder, const QJsonObject& package, bool nodeModules = true)
    {
        QDir(folder).mkpath(QStringLiteral("public"));
        if (nodeModules)
            QDir(folder).mkpath(QStringLiteral("node_modules"));
        QFile file(QDir(folder).filePath(QStringLiteral("package.json")));
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(package).toJson());
        const QDir fixtures(fixturesDir() + QStringLiteral("/frontend"));
        for (const QString& script : fixtures.entryList({QStringLiteral("*.js")}))
            QFile::copy(fixtures.filePath(script), QDir(folder).filePath(script));
    }

    QString path() const { return dir.path(); }
    QString hotFile() const { return dir.filePath(QStringLiteral("public/hot")); }
    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile file(dir.filePath(name));
        QDir().mkpath(QFileInfo(file).absolutePath());
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
};

// A Vite project whose `dev` script runs the given fixture program.
inline QJsonObject viteProject(const QString& program, const QJsonObject& extraScripts = {})
{
    QJsonObject scripts{{QStringLiteral("dev"), QStringLiteral("node %1 # vite").arg(program)}};
    for (auto it = extraScripts.begin(); it != extraScripts.end(); ++it)
        scripts.insert(it.key(), it.value());
    return QJsonObject{
        {QStringLiteral("name"), QStringLiteral("fixture")},
        {QStringLiteral("private"), true},
        {QStringLiteral("scripts"), scripts},
        {QStringLiteral("devDependencies"), QJsonObject{{QStringLiteral("vite"), QStringLiteral("^5.0.0")}}}};
}

// The services a dev server needs, with its own registry file, so two of these play two
// Halvik processes.
struct DevServerHarness
{
    explicit DevServerHarness(const QString& registry, RuntimeRoots roots = RuntimeRoots::system())
        : runtime(runner, roots), dev(runner, runtime, nullptr, {}, DevServerRegistry(registry))
    {
        dev.setStopGrace(std::chrono::milliseconds(400));
    }

    ProcessRunner runner;
    RuntimeManager runtime;
    ViteDevServer dev;
};

// Live (not zombie) processes, by /proc: their state and process group.
inline bool anyLiveProcess(const std::function<bool(qint64 pid, qint64 group)>& match)
{
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // pid (comm) state ppid pgrp …; comm may hold spaces, so read after its closing bracket.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 3 || fields[0] == "Z" || fields[0] == "X")
            continue;
        if (match(pid, fields[2].toLongLong()))
            return true;
    }
    return false;
}

inline bool groupIsGone(qint64 pgid)
{
    return pgid > 0 && !anyLiveProcess([pgid](qint64, qint64 group) { return group == pgid; });
}

inline bool processIsGone(qint64 pid)
{
    return pid > 0 && !anyLiveProcess([pid](qint64 candidate, qint64) { return candidate == pid; });
}

} // namespace halvik::test
