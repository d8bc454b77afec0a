#include "ImportSiteModel.h"

#include "services/composer/ComposerService.h"

#include "AppServices.h"
#include "ImportPaths.h"
#include "SiteImporter.h"

#include "async/FireAndForget.h"

#include "models/Site.h"
#include "services/git/GitService.h"

#include <QDir>
#include <QFileInfo>

namespace halvik {

ImportSiteModel::ImportSiteModel(AppServices& services, SiteImporter& importer, GitService& git,
                                 QObject* parent)
    : QObject(parent), m_services(services), m_importer(importer), m_git(git)
{
}

void ImportSiteModel::setDisplayName(const QString& name)
{
    // A name of one's own stops the path from renaming the site; clearing it lets it again.
    m_nameChosen = !name.trimmed().isEmpty();
    if (name == m_displayName)
        return;
    m_displayName = name;
    Q_EMIT changed();
}

QString ImportSiteModel::expandedPath() const
{
    return expandTypedPath(m_projectPath);
}

QCoro::Task<> ImportSiteModel::pick()
{
    const LifeToken alive = m_life.token();
    const QString title = QStringLiteral("Import Existing Site");
    const QString startIn = QDir::homePath();
    const std::optional<QString> folder = co_await m_services.prompts().chooseFolder(title, startIn);
    if (alive && folder)
        applyPath(*folder);
}

void ImportSiteModel::applyPath(const QString& path)
{
    m_projectPath = path;
    m_errorText.clear();
    const QString expanded = expandedPath();
    if (!m_nameChosen)
        m_displayName = expanded.isEmpty() ? QString() : QFileInfo(QDir::cleanPath(expanded)).fileName();
    refreshExistingSiteNotice(expanded);
    Q_EMIT changed();
    // The hint follows on its own; a newer path supersedes it.
    fireAndForget(this, refreshGitHint());
}

void ImportSiteModel::refreshExistingSiteNotice(const QString& path)
{
    const SitePtr existing = m_services.store().siteAtPath(path);
    std::optional<QString> notice;
    if (existing)
        notice = QStringLiteral("Already in Halvik as “") + existing->displayName() + QStringLiteral("”");
    if (notice == m_existingNotice)
        return;
    m_existingNotice = notice;
    Q_EMIT changed();
}

QCoro::Task<> ImportSiteModel::refreshGitHint()
{
    const int generation = ++m_hintGeneration;
    const QString path = expandedPath();
    std::optional<QString> hint;
    if (!path.isEmpty() && GitService::isRepository(path)) {
        // The folder is not registered yet: a temporary record stands in for it.
        auto probe = std::make_shared<Site>(QString(), path);
        const LifeToken alive = m_life.token();
        const auto snapshot = co_await m_git.snapshot(probe, 0);
        if (!alive)
            co_return;
        if (snapshot.status.branch)
            hint = QStringLiteral("Git: ") + *snapshot.status.branch;
    }
    if (generation != m_hintGeneration || hint == m_gitHint)
        co_return;
    m_gitHint = hint;
    Q_EMIT changed();
}

QCoro::Task<bool> ImportSiteModel::importSite()
{
    const QString path = expandedPath();
    if (m_importing || path.isEmpty())
        co_return false;
    if (const SitePtr existing = m_services.store().siteAtPath(path)) {
        m_services.setSelectedSiteID(existing->id());
        co_return true;
    }
    if (!QFileInfo(path + QStringLiteral("/composer.json")).isFile()) {
        m_errorText = QStringLiteral("That folder does not contain composer.json.");
        Q_EMIT changed();
        co_return false;
    }
    m_importing = true;
    Q_EMIT changed();
    const LifeToken alive = m_life.token();
    AppServices& services = m_services;
    SitePtr site;
    try {
        site = co_await m_importer.importExistingSite(path, m_displayName.trimmed());
    } catch (const std::exception& error) {
        if (!alive)
            co_return false;
        m_importing = false;
        m_errorText = QString::fromUtf8(error.what());
        Q_EMIT changed();
        co_return false;
    }
    // The selection is the application's; it follows even when the sheet has gone.
    services.setSelectedSiteID(site->id());
    // Imported all the same; the warning stays beside the site.
    if (const auto noArtisan = ComposerService::artisanUnavailable(*site))
        services.setOpenSiteError(site->id(), *noArtisan);
    if (!alive)
        co_return true;
    m_importing = false;
    Q_EMIT changed();
    co_return true;
}

} // namespace halvik
