#pragma once

#include "FakeEngine.h"
#include "FakePrompts.h"
#include "TestPaths.h"
#include "WaitFor.h"

#include "app/AppServices.h"
#include "models/SecretStore.h"
#include "services/HerdService.h"
#include "services/runtime/RuntimeManager.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace halvik::test {

// A machine for making sites: the real PHP and Composer, Composer's repositories limited to the
// hand-written fixture packages (Packagist off), no Herd or Valet unless a test installs one,
// and a browser that only records what it was asked to open.
struct NewSiteMachine
{
    QTemporaryDir dir;
    bool ownData = qputenv("XDG_DATA_HOME", (dir.path() + "/data").toUtf8());
    FakeEngine engine{dir.path() + "/machine"};
    SecretStore secrets;
    FakePrompts prompts;
    std::unique_ptr<AppServices> services;
    QList<QUrl> opened;

    explicit NewSiteMachine(const QStringList& toolFolders = {"/usr/bin"})
    {
        RuntimeRoots roots = RuntimeRoots::system();
        roots.fixedSearch = toolFolders;
        roots.inheritedPath = QStringLiteral("/usr/bin:/bin");
        services = std::make_unique<AppServices>(secrets, prompts, engine.roots(), nullptr, roots);
        services->herd().refresh();
        services->setBrowserOpener([this](const QUrl& url) {
            opened << url;
            return true;
        });
        writeComposerConfig(composerHome());
    }
    ~NewSiteMachine() { services->shutdown(); }

    QString composerHome() const { return services->runtime().composerEnvironment().value("COMPOSER_HOME"); }
    QString sitesFolder() const { return dir.path() + "/Sites"; }

    static void writeComposerConfig(const QString& home)
    {
        QDir().mkpath(home);
        const QJsonObject path{{"type", "path"},
                               {"url", fixturesDir() + "/newsite-packages/*"},
                               {"options", QJsonObject{{"symlink", false}}}};
        const QJsonObject config{{"repositories", QJsonArray{path, QJsonObject{{"packagist.org", false}}}}};
        QFile file(home + "/config.json");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QJsonDocument(config).toJson());
    }

    static QString readText(const QString& path)
    {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll());
    }

    static void writeText(const QString& path, const QByteArray& text)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

    // One digest over every path, kind, mode, link target and file content below `root`.
    static QByteArray treeDigest(const QString& root)
    {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        QStringList paths;
        while (it.hasNext())
            paths << it.next();
        paths.sort();
        for (const QString& path : paths) {
            const QFileInfo info(path);
            hash.addData(path.mid(root.size()).toUtf8());
            hash.addData(QByteArray::number(int(info.permissions())));
            if (info.isSymLink()) {
                hash.addData("link:" + info.symLinkTarget().toUtf8());
            } else if (info.isFile()) {
                QFile file(path);
                file.open(QIODevice::ReadOnly);
                hash.addData(file.readAll());
            }
        }
        return hash.result().toHex();
    }

    static QString git(const QString& folder, const QStringList& args)
    {
        QProcess process;
        process.setWorkingDirectory(folder);
        process.start("git", args);
        process.waitForFinished(30000);
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
};

} // namespace halvik::test
