#include "NewSitePreflight.h"

#include "AppServices.h"

#include "services/accounts/SourceControlService.h"
#include "services/composer/PackagistClient.h"
#include "services/marketplace/QuillmarAPI.h"
#include "services/newsite/NewSiteChecks.h"
#include "services/runtime/RuntimeManager.h"

namespace halvik {

std::optional<QString> localNewSiteProblem(AppServices& services, const NewSiteDraft& draft)
{
    if (auto problem = NewSiteChecks::destination(services.store(), draft.destination, true))
        return problem;
    if (draft.createSuperUser)
        if (auto problem = NewSiteChecks::password(draft.adminPassword))
            return problem;
    try {
        Site probe(QStringLiteral("new site"), draft.destination);
        probe.setPhpSource(draft.phpSource);
        services.runtime().composerLaunch(probe, &services.herd());
    } catch (const HalvikError& error) {
        return error.description();
    }
    if (draft.createGitHubRepo && !services.sourceControl().isConnected(SourceControlProvider::github))
        return QStringLiteral("Connect GitHub under Source Control.");
    return std::nullopt;
}

QCoro::Task<std::optional<QString>> newSiteProblem(AppServices& services, NewSiteDraft draft)
{
    if (auto problem = localNewSiteProblem(services, draft))
        co_return problem;
    if (draft.starterKit) {
        std::optional<QList<MarketplaceStarterKit>> kits;
        try {
            kits = co_await services.marketplace().starterKits();
        } catch (const HalvikError& error) {
            co_return QStringLiteral("Couldn’t load starter kits: ") + error.description();
        }
        if (auto problem = NewSiteChecks::starterKit(*draft.starterKit, kits))
            co_return problem;
    }
    const QString version = draft.version.value_or(QString()).trimmed();
    if (!version.isEmpty() && version != QLatin1String("latest")) {
        std::optional<QList<PackagistVersion>> versions;
        try {
            const QString cms = QString::fromLatin1(QuillmarAPI::cmsPackage);
            versions = co_await services.packagist().versions(cms);
        } catch (const HalvikError&) {
            // The list could not load: the release is not judged.
        }
        if (auto problem = NewSiteChecks::release(version, versions))
            co_return problem;
    }
    co_return std::nullopt;
}

} // namespace halvik
