#include "SitesCommands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace halvik::cli {

QJsonObject siteJson(const Site& site)
{
    QJsonObject o{{"id", uuidString(site.id())},
                  {"name", site.name()},
                  {"displayName", site.displayName()},
                  {"path", site.path()},
                  {"createdAt", site.createdAt().toUTC().toString(Qt::ISODate)},
                  {"phpSource", site.phpSourceRaw()},
                  {"herdLinked", site.herdLinked()},
                  {"usesSSG", site.usesSSG()}};
    if (site.githubRepo())
        o.insert("githubRepo", *site.githubRepo());
    return o;
}

int runSitesCommand(AppServices& services, const QStringList& args)
{
    const bool json = args.contains(QStringLiteral("--json"));
    for (const QString& arg : args)
        if (arg != QStringLiteral("--json"))
            throw CliError(QStringLiteral("Unknown option %1 for sites.").arg(arg));

    const auto& sites = services.store().sites(); // newest first
    if (json) {
        QJsonArray list;
        for (const auto& site : sites)
            list.append(siteJson(*site));
        out() << QJsonDocument(list).toJson(QJsonDocument::Indented);
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
    return 0;
}

int runRemoveCommand(AppServices& services, CliPrompts& prompts, const QStringList& args)
{
    bool deleteFiles = false;
    QStringList rest;
    for (const QString& arg : args) {
        if (arg == QStringLiteral("--delete-files"))
            deleteFiles = true;
        else if (arg.startsWith(QStringLiteral("--")))
            throw CliError(QStringLiteral("Unknown option %1 for remove.").arg(arg));
        else
            rest << arg;
    }
    if (rest.size() != 1)
        throw CliError(QStringLiteral("Usage: halvik remove <site> [--delete-files]"));

    const SitePtr site = resolveSite(services.store(), rest.first());
    services.deleteSites({site}, deleteFiles);
    if (!prompts.alerts.isEmpty())
        throw CliError(prompts.alerts.join(QLatin1Char(' ')));
    out() << (deleteFiles ? "Moved to the Trash and removed: " : "Removed: ") << site->displayName() << '\n';
    out().flush();
    return 0;
}

} // namespace halvik::cli
