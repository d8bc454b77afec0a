#pragma once

#include "FakeFileServer.h"

#include "services/ProcessRunner.h"
#include "services/runtime/RuntimeManager.h"

#include "platform/RuntimePlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace halvik::test {

// A machine below one temporary folder for the runtime manager: the application folder, a
// home, a fixed-search folder, a resources folder, and a local download server that serves
// archives built around this machine's real php and node.
class RuntimeFixture
{
public:
    RuntimeFixture()
    {
        server.start();
        QDir().mkpath(root() + "/usr/bin");
        QDir().mkpath(root() + "/home");
    }

    QString root() const { return m_dir.path(); }

    RuntimeRoots roots() const
    {
        RuntimeRoots roots;
        roots.support = root() + "/support";
        roots.home = root() + "/home";
        roots.fixedSearch = {root() + "/usr/bin"};
        roots.resourceFolders = {root() + "/resources"};
        roots.inheritedPath = root() + "/usr/bin";
        roots.phpDownloads = server.url("/static-php-cli/common/");
        roots.nodeDistribution = server.url("");
        roots.composerVersions = server.url("");
        return roots;
    }

    RuntimeManager& manager()
    {
        if (!m_manager)
            m_manager = std::make_unique<RuntimeManager>(runner, roots());
        return *m_manager;
    }

    // A real PHP on this machine (the Debian package's binary, not a wrapper).
    static QString realPHP() { return QFileInfo(QStringLiteral("/usr/bin/php")).canonicalFilePath(); }
    static QString realNode() { return QFileInfo(QStringLiteral("/usr/bin/node")).canonicalFilePath(); }

    // The fixture cannot go on without its files: stop the whole run with the reason.
    static void check(bool ok, const QString& what)
    {
        if (!ok)
            qFatal("runtime fixture: %s", qPrintable(what));
    }

    static void writeFile(const QString& path, const QByteArray& data, bool executable = false)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), path);
        file.write(data);
        file.close();
        if (executable)
            file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                QFileDevice::ExeOther);
    }

    static void copyExecutable(const QString& from, const QString& to)
    {
        QDir().mkpath(QFileInfo(to).absolutePath());
        QFile::remove(to);
        check(QFile::copy(from, to), from + " -> " + to);
        QFile(to).setPermissions(QFile(to).permissions() | QFileDevice::ExeOwner);
    }

    // tar -czf of `entry` inside `folder`.
    static QByteArray tarGz(const QString& folder, const QString& entry)
    {
        QProcess tar;
        tar.start("tar", {"-czf", "-", "-C", folder, entry});
        tar.waitForFinished(120000);
        check(tar.exitCode() == 0, "tar of " + folder);
        return tar.readAllStandardOutput();
    }

    // A static-PHP-style archive: one `php` at its top, plus `padding` incompressible bytes.
    QByteArray phpArchive(const QString& binary, qint64 padding = 0)
    {
        const QString folder = root() + "/build-php-" + QString::number(m_builds++);
        copyExecutable(binary, folder + "/pkg/php");
        if (padding > 0) {
            QByteArray noise(padding, Qt::Uninitialized);
            for (qint64 i = 0; i < padding; ++i)
                noise[i] = char((i * 2654435761u) >> 13);
            writeFile(folder + "/pkg/LICENSE.bin", noise);
        }
        return tarGz(folder + "/pkg", ".");
    }

    QByteArray scriptOnlyPHPArchive()
    {
        const QString folder = root() + "/build-script-" + QString::number(m_builds++);
        writeFile(folder + "/pkg/bin/php", "#!/bin/sh\necho 8.3.0\n", true);
        return tarGz(folder + "/pkg", ".");
    }

    static QString phpArchiveName(const QString& version)
    {
        return QStringLiteral("php-%1-cli-%2.tar.gz")
            .arg(version, RuntimePlatform::currentArchiveNames().phpSuffix);
    }

    void servePHPList(const QStringList& versions)
    {
        QByteArray page = "<html><body><h1>Index of /static-php-cli/common/</h1>\n";
        for (const QString& version : versions)
            page += "<a href=\"" + phpArchiveName(version).toUtf8() + "\">" +
                    phpArchiveName(version).toUtf8() + "</a>\n";
        page += "</body></html>\n";
        server.serve("/static-php-cli/common/", page);
    }

    void servePHPArchive(const QString& version, const QByteArray& archive)
    {
        server.serve("/static-php-cli/common/" + phpArchiveName(version).toUtf8(), archive);
    }

    // node-v<version>-<suffix>/bin/{node,npm,npx}: node is this machine's node, npm a script.
    QByteArray nodeArchive(const QString& version)
    {
        const QString name = nodeFolderName(version);
        const QString folder = root() + "/build-node-" + QString::number(m_builds++);
        QDir().mkpath(folder + "/" + name + "/bin");
        check(QFile::link(realNode(), folder + "/" + name + "/bin/node"), "node link");
        writeFile(folder + "/" + name + "/bin/npm", "#!/bin/sh\necho 10.9.0\n", true);
        writeFile(folder + "/" + name + "/bin/npx", "#!/bin/sh\necho 10.9.0\n", true);
        return tarGz(folder, name);
    }

    static QString nodeFolderName(const QString& version)
    {
        return QStringLiteral("node-v%1-%2").arg(version, RuntimePlatform::currentArchiveNames().nodeSuffix);
    }

    void serveNodeRelease(const QString& version, const QByteArray& archive)
    {
        server.serve("/dist/v" + version.toUtf8() + "/" + nodeFolderName(version).toUtf8() + ".tar.gz",
                     archive);
    }

    FakeFileServer server;
    ProcessRunner runner;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<RuntimeManager> m_manager;
    int m_builds = 0;
};

} // namespace halvik::test
