#include "SiteImporter.h"

#include "models/SiteStore.h"
#include "services/HerdService.h"
#include "services/git/GitService.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

namespace halvik {

SiteImporter::SiteImporter(SiteStore& store, HerdService& herd, GitService& git)
    : m_store(store), m_herd(herd), m_git(git)
{
}

bool SiteImporter::mentionsStaticGenerator(const QString& path)
{
    const auto mentions = [](const QString& file) {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) &&
               QString::fromUtf8(in.readAll()).contains(QLatin1String("quillmar/ssg"));
    };
    return mentions(path + QStringLiteral("/vendor/composer/installed.json")) ||
           mentions(path + QStringLiteral("/composer.lock"));
}

QCoro::Task<SitePtr> SiteImporter::importExistingSite(QString path, std::optional<QString> name)
{
    const QString folderName = QFileInfo(QDir::cleanPath(path)).fileName();
    const QString displayName = name && !name->isEmpty() ? *name : folderName;
    const bool parked = m_herd.isParked(path);
    // The lock file of a large project runs to megabytes: read it away from the window.
    // (Named, as GCC 12 destroys a lambda temporary inside co_await twice.)
    QFuture<bool> reading = QtConcurrent::run(&SiteImporter::mentionsStaticGenerator, path);
    const bool usesSSG = co_await reading;

    auto site = std::make_shared<Site>(displayName, path);
    site->setHerdLinked(parked);
    site->setPhpSource(parked ? PHPSource::herd : PHPSource::automatic);
    site->setUsesSSG(usesSSG);
    if (GitService::isRepository(path)) {
        const auto snapshot = co_await m_git.snapshot(site, 0);
        site->setGithubRepo(snapshot.status.githubRepo());
    }
    m_store.insertSite(site);
    if (m_added)
        m_added(site);
    co_return site;
}

} // namespace halvik
