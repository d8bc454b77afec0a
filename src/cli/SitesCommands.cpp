#include "SitesCommands.h"

#include "CliJson.h"

#include "app/DeleteSitesDialogs.h"

namespace halvik::cli {

QCoro::Task<int> runSitesCommand(AppServices& services, QStringList args)
{
    const bool json = args.contains(QStringLiteral("--json"));
    for (const QString& arg : args)
        if (arg != QStringLiteral("--json"))
            throw CliError::usage(QStringLiteral("Unknown option %1 for sites.").arg(arg));

    const auto& sites = services.store().sites(); // newest first
    if (json) {
        Json list = Json::array();
        for (const auto& site : sites)
            list.push_back(siteJson(*site));
        printJson(out(), list);
    } else if (sites.isEmpty()) {
        out() << "No sites yet.\n";
    } else {
        int width = 0;
        for (const auto& site : sites)
            width = std::max(width, int(site->displayName().size()));
        for (const auto& site : sites)
            out() << site->displayName().leftJustified(width + 2) << site->path() << '\n';
    }
    out().flush();
    co_return 0;
}

QCoro::Task<int> runRemoveCommand(AppServices& services, QStringList args)
{
    bool deleteFiles = false;
    QStringList rest;
    for (const QString& arg : args) {
        if (arg == QStringLiteral("--delete-files"))
            deleteFiles = true;
        else if (arg.startsWith(QStringLiteral("--")))
            throw CliError::usage(QStringLiteral("Unknown option %1 for remove.").arg(arg));
        else
            rest << arg;
    }
    if (rest.size() != 1)
        throw CliError::usage(
            QStringLiteral("Name one site to remove: halvik remove <site> [--delete-files]."));

    const SitePtr site = resolveSite(services.store(), rest.first());
    const QStringList failures = services.deleteSites({site}, deleteFiles);
    if (!failures.isEmpty())
        throw CliError(DeleteSitesDialogs::failureTitle(1) + QStringLiteral(": ") +
                       failures.join(QLatin1Char(' ')));
    out() << (deleteFiles ? "Moved to the Trash and removed: " : "Removed: ") << site->displayName() << '\n';
    out().flush();
    co_return 0;
}

QList<CliCommand> sitesCommands()
{
    return {
        {.verb = QStringLiteral("sites"),
         .summary = QStringLiteral("list the registered sites"),
         .run = [](CliCall& call) { return runSitesCommand(call.app(), call.args); },
         .forms = {{.arguments = QStringLiteral("[--json]"),
                    .help = QStringLiteral("list the registered sites, newest first"),
                    .options = {jsonOption()}}}},
        {.verb = QStringLiteral("remove"),
         .summary = QStringLiteral("remove a site from Halvik"),
         .run = [](CliCall& call) { return runRemoveCommand(call.app(), call.args); },
         .forms = {{.arguments = QStringLiteral("<site> [--delete-files]"),
                    .help = QStringLiteral(
                        "remove a site from Halvik; --delete-files also moves its folder to the Trash"),
                    .options = {{QStringLiteral("--delete-files"),
                                 {},
                                 QStringLiteral("also move the site’s folder to the Trash")}}}}},
    };
}

} // namespace halvik::cli
