#include "StaticRig.h"

#include "TestPaths.h"

#include "WaitFor.h"
#include "app/StaticPublishCoordinator.h"
#include "platform/AppDataDir.h"
#include "services/hosting/HostAccountService.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace halvik::test {

namespace {

void copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QFileInfo& entry :
         QDir(from).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir()) {
            copyTree(entry.filePath(), target);
            continue;
        }
        QFile::remove(target);
        QFile::copy(entry.filePath(), target);
        QFile::setPermissions(target, QFile::permissions(entry.filePath()) | QFileDevice::WriteOwner);
    }
}

} // namespace

void makeSSGSite(const QString& path)
{
    copyTree(fixturesDir() + QStringLiteral("/laravel-app"), path);
    copyTree(fixturesDir() + QStringLiteral("/ssg-site"), path);
    QFile::remove(path + QStringLiteral("/README.md"));
}

QMap<QString, QByteArray> folderFiles(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            files.insert(QDir(folder).relativeFilePath(path), file.readAll());
    }
    return files;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

bool processRunning(const QByteArray& marker)
{
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        bool number = false;
        pid.toLongLong(&number);
        if (!number)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(marker))
            return true;
    }
    return false;
}

StaticMachine::StaticMachine()
    : wiped(QDir(AppDataDir::directory()).removeRecursively() || !QDir(AppDataDir::directory()).exists()),
      started(netlify.start() && cloudflare.start()), netlifyURL("HALVIK_NETLIFY_URL", netlify.root()),
      cloudflareURL("HALVIK_CLOUDFLARE_URL", cloudflare.root()), services(secrets, prompts)
{
    const QString folder = sites.filePath(QStringLiteral("shop"));
    makeSSGSite(folder);
    site = std::make_shared<Site>(QStringLiteral("Shop"), folder);
    services.store().insertSite(site);
    services.staticPublishes().setNetlifyTiming(
        {std::chrono::milliseconds(5), std::chrono::milliseconds(20000)});
}

StaticMachine::~StaticMachine() = default;

HostAccountPtr StaticMachine::connectNetlify()
{
    return halvik::waitFor(
        services.hostAccounts().connect(HostProviderKind::netlify, QString::fromLatin1(netlifyToken)));
}

HostAccountPtr StaticMachine::connectCloudflare()
{
    return halvik::waitFor(services.hostAccounts().connect(HostProviderKind::cloudflarePages,
                                                           QString::fromLatin1(cloudflareToken),
                                                           QString::fromLatin1(accountID)));
}

} // namespace halvik::test
