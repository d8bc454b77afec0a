// Opening sites in the browser and serving them with Halvik's own server.
#include "AppServices.h"
#include "DevEnvironment.h"

#include "services/HerdService.h"
#include "services/ReachabilityProbe.h"
#include "services/composer/ComposerService.h"
#include "services/runtime/RuntimeError.h"
#include "services/runtime/RuntimeManager.h"
#include "services/serving/LaravelConfigurationResolver.h"
#include "services/serving/LocalServer.h"
#include "services/serving/SiteProcesses.h"

#include "async/FireAndForget.h"

namespace halvik {

namespace {

QUrl withPath(QUrl url, const QString& path)
{
    if (path.isEmpty())
        return url;
    QString base = url.path();
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    url.setPath(base + path);
    return url;
}

} // namespace

std::optional<QUrl> AppServices::siteURL(const Site& site) const
{
    if (const auto url = localServer().url(site.id()))
        return url;
    return siteURL(site, HerdService::envAppURL(site.path()));
}

std::optional<QUrl> AppServices::siteURL(const Site& site, const std::optional<QUrl>& envURL) const
{
    if (const auto url = localServer().url(site.id()))
        return url;
    if (m_herd->engine())
        return m_herd->siteURL(site, envURL, std::nullopt);
    if (envURL && DevEnvironment::isExternalURL(*envURL, site))
        return envURL;
    return std::nullopt;
}

std::optional<QUrl> AppServices::previewURL(const Site& site) const
{
    return siteURL(site);
}

std::optional<QString> AppServices::openSiteError(const QUuid& site) const
{
    const auto it = m_openSiteErrors.constFind(site);
    return it == m_openSiteErrors.constEnd() ? std::nullopt : std::optional<QString>(*it);
}

void AppServices::setOpenSiteError(const QUuid& site, std::optional<QString> error)
{
    if (error)
        m_openSiteErrors.insert(site, *error);
    else if (!m_openSiteErrors.remove(site))
        return;
    Q_EMIT openingChanged();
}

void AppServices::toggleLocalServer(const SitePtr& site)
{
    if (!site)
        return;
    setOpenSiteError(site->id(), std::nullopt);
    if (const auto error = m_processes->toggleServer(site))
        setOpenSiteError(site->id(), error);
    fireAndForget(this, m_devEnvironment->refreshSiteMappings());
}

QCoro::Task<> AppServices::openInBrowser(SitePtr site, bool controlPanel)
{
    if (!site || m_openingSites.contains(site->id()))
        co_return;
    const QUuid id = site->id();
    const LifeToken alive = m_life.token();
    m_openingSites.insert(id);
    setOpenSiteError(id, std::nullopt);
    Q_EMIT openingChanged();
    const auto finish = [this, id](std::optional<QString> error) {
        m_openingSites.remove(id);
        if (error)
            m_openSiteErrors.insert(id, *error);
        Q_EMIT openingChanged();
    };

    const std::optional<ResolvedPHP> php = m_runtime->resolvePHP(*site, m_herd.get());
    QString path;
    // Why the control panel opens at its default route, when it does.
    QString routeNote;
    if (controlPanel && php) {
        try {
            const QString route =
                co_await m_configuration->string(QStringLiteral("quillmar.cp.route"), site->path(), php->path,
                                                 m_runtime->composerEnvironment());
            if (!alive)
                co_return;
            path = route;
        } catch (const std::exception& error) {
            if (!alive)
                co_return;
            path = QStringLiteral("cp");
            const auto* known = dynamic_cast<const HalvikError*>(&error);
            const QString reason = known ? known->description() : QString::fromUtf8(error.what());
            routeNote = reason.section(QLatin1Char('\n'), 0, 0) +
                        QStringLiteral(" Opening the default control panel route /cp.");
            m_devEnvironment->setServeFallbackNotice(id, routeNote);
        }
        while (path.startsWith(QLatin1Char('/')))
            path.remove(0, 1);
        while (path.endsWith(QLatin1Char('/')))
            path.chop(1);
    } else if (controlPanel) {
        path = QStringLiteral("cp");
    }

    // The engine (or whatever serves the site now) first, when it answers.
    const std::optional<QUrl> url = siteURL(*site);
    // A server of Halvik's own that does not answer is not the engine: no notice names one then.
    const bool triedOwnServer = url && localServer().url(id) == url;
    std::optional<Reachability> tried;
    if (url) {
        const Reachability answer = co_await ReachabilityProbe::probe(*url);
        if (!alive)
            co_return;
        if (answer.isServing()) {
            m_openBrowser(withPath(*url, path));
            finish(std::nullopt);
            co_return;
        }
        tried = answer;
    }

    // Otherwise Halvik's own server.
    if (const auto error = m_processes->startServer(site)) {
        finish(error);
        co_return;
    }
    if (url && tried && !triedOwnServer) {
        const QString engine =
            m_herd->engine() ? engineDisplayName(*m_herd->engine()) : QStringLiteral("APP_URL");
        m_devEnvironment->setServeFallbackNotice(
            id, url->toString() + QStringLiteral(" isn't answering (") + tried->summary() +
                    QStringLiteral("). Using Halvik's server instead of ") + engine + QLatin1Char('.') +
                    (routeNote.isEmpty() ? QString() : QLatin1Char(' ') + routeNote));
    }
    const std::optional<QString> error = co_await m_processes->waitForServer(id);
    if (!alive)
        co_return;
    if (error) {
        finish(error);
        co_return;
    }
    m_openBrowser(withPath(*localServer().url(id), path));
    m_store->save();
    finish(std::nullopt);
    refreshSiteAppearance(site, false);
    fireAndForget(this, m_devEnvironment->refreshSiteMappings());
}

} // namespace halvik
