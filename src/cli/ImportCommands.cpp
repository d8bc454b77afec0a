#include "ImportCommands.h"

#include "app/AppServices.h"
#include "app/ImportAllModel.h"
#include "app/ImportPaths.h"
#include "app/SiteImporter.h"
#include "async/WaitFor.h"
#include "services/HerdService.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <nlohmann/json.hpp>

namespace halvik::cli {

namespace {

using Json = nlohmann::ordered_json;

std::string utf8(const QString& text) { return text.toStdString(); }

Json optionalJson(const std::optional<QString>& value) { return value ? Json(utf8(*value)) : Json(nullptr); }

Json siteJson(const Site& site)
{
    return Json{{"id", utf8(site.id().toString(QUuid::WithoutBraces).toUpper())},
                {"name", utf8(site.displayName())},
                {"path", utf8(site.path())},
                {"phpSource", utf8(site.phpSourceRaw())},
                {"herdLinked", site.herdLinked()},
                {"usesSSG", site.usesSSG()},
                {"githubRepo", optionalJson(site.githubRepo())}};
}

QString siteText(const Site& site)
{
    QString text = QStringLiteral("Imported “%1”\n  path: %2\n  PHP: %3\n  served by Herd/Valet: %4\n  static site: %5")
                       .arg(site.displayName(), site.path(), site.phpSourceRaw(),
                            site.herdLinked() ? QStringLiteral("yes") : QStringLiteral("no"),
                            site.usesSSG() ? QStringLiteral("yes") : QStringLiteral("no"));
    if (site.githubRepo())
        text += QStringLiteral("\n  GitHub: ") + *site.githubRepo();
    return text;
}

int fail(QTextStream& err, const QString& message)
{
    err << message << Qt::endl;
    return 1;
}

void print(QTextStream& out, const QString& text) { out << text << Qt::endl; }
void print(QTextStream& out, const Json& json) { out << QString::fromStdString(json.dump(2)) << Qt::endl; }

// The store and the engine picture as a window would have them after start-up.
void prepare(ImportContext& context)
{
    if (!context.services.isBootstrapped())
        context.services.store().load();
    context.herd.refresh();
}

QString absoluteFolder(const QString& typed)
{
    const QString expanded = expandTypedPath(typed);
    return expanded.isEmpty() ? expanded : QDir::cleanPath(QDir::current().absoluteFilePath(expanded));
}

} // namespace

int runImportCommand(ImportContext& context, const QStringList& args)
{
    QTextStream out(stdout), err(stderr);
    return runImportCommand(context, args, out, err);
}

int runImportCommand(ImportContext& context, const QStringList& args, QTextStream& out, QTextStream& err)
{
    QString path;
    std::optional<QString> name;
    bool json = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--json"))
            json = true;
        else if (args[i] == QLatin1String("--name") && i + 1 < args.size())
            name = args[++i];
        else if (path.isEmpty() && !args[i].startsWith(QLatin1String("--")))
            path = args[i];
        else
            return fail(err, QStringLiteral("Usage: halvik import <path> [--name NAME] [--json]"));
    }
    path = absoluteFolder(path);
    if (path.isEmpty())
        return fail(err, QStringLiteral("Usage: halvik import <path> [--name NAME] [--json]"));
    if (!QFileInfo(path).isDir())
        return fail(err, QStringLiteral("That folder doesn’t exist."));
    prepare(context);
    if (const SitePtr existing = context.services.store().siteAtPath(path))
        return fail(err, QStringLiteral("Already in Halvik as “") + existing->displayName() + QStringLiteral("”"));
    if (!QFileInfo(path + QStringLiteral("/composer.json")).isFile())
        return fail(err, QStringLiteral("That folder does not contain composer.json."));

    const SitePtr site = halvik::waitFor(context.importer.importExistingSite(path, name));
    if (json)
        print(out, siteJson(*site));
    else
        print(out, siteText(*site));
    return 0;
}

int runImportAllCommand(ImportContext& context, const QStringList& args)
{
    QTextStream out(stdout), err(stderr);
    return runImportAllCommand(context, args, out, err);
}

int runImportAllCommand(ImportContext& context, const QStringList& args, QTextStream& out, QTextStream& err)
{
    QString folder;
    bool json = false;
    for (const QString& arg : args) {
        if (arg == QLatin1String("--json"))
            json = true;
        else if (folder.isEmpty() && !arg.startsWith(QLatin1String("--")))
            folder = arg;
        else
            return fail(err, QStringLiteral("Usage: halvik import-all <folder> [--json]"));
    }
    if (folder.trimmed().isEmpty())
        return fail(err, QStringLiteral("Usage: halvik import-all <folder> [--json]"));
    prepare(context);

    ImportAllModel model(context.services, context.importer);
    model.setFolderText(absoluteFolder(folder));
    halvik::waitFor(model.rescan());
    if (!model.errorText().isEmpty())
        return fail(err, model.errorText());
    const QString summary = model.scanSummary();
    const QList<DiscoveredSite> chosen = model.selectedSites();
    halvik::waitFor(model.importAll());

    QList<SitePtr> imported;
    for (const DiscoveredSite& candidate : chosen)
        if (const SitePtr site = context.services.store().siteAtPath(candidate.path))
            imported << site;
    if (json) {
        Json sites = Json::array();
        for (const SitePtr& site : imported)
            sites.push_back(siteJson(*site));
        print(out, Json{{"summary", utf8(summary)}, {"imported", sites}});
    } else {
        print(out, summary);
        for (const SitePtr& site : imported)
            print(out, siteText(*site));
    }
    if (!model.errorText().isEmpty())
        return fail(err, model.errorText());
    return 0;
}

int runEngineCommand(ImportContext& context, const QStringList& args)
{
    QTextStream out(stdout), err(stderr);
    return runEngineCommand(context, args, out, err);
}

int runEngineCommand(ImportContext& context, const QStringList& args, QTextStream& out, QTextStream& err)
{
    const bool json = args.contains(QStringLiteral("--json"));
    for (const QString& arg : args)
        if (arg != QLatin1String("--json"))
            return fail(err, QStringLiteral("Usage: halvik engine [--json]"));
    HerdService& herd = context.herd;
    herd.refresh();
    std::optional<QString> phpVersion;
    if (const auto php = herd.globalPHPPath())
        phpVersion = halvik::waitFor(herd.phpVersion(*php));
    herd.setGlobalPHPVersion(phpVersion);

    const std::optional<QString> engine =
        herd.engine() ? std::optional(engineDisplayName(*herd.engine())) : std::nullopt;
    if (json) {
        Json parked = Json::array();
        for (const QString& folder : herd.parkedDirectories())
            parked.push_back(utf8(folder));
        print(out, Json{{"engine", herd.engine() ? Json(utf8(toRaw(*herd.engine()))) : Json(nullptr)},
                   {"tld", utf8(herd.tld())},
                   {"parkedDirectories", parked},
                   {"cliPath", optionalJson(herd.cliPath())},
                   {"globalPHPPath", optionalJson(herd.globalPHPPath())},
                   {"globalPHPVersion", optionalJson(phpVersion)}});
        return 0;
    }
    QStringList lines;
    lines << QStringLiteral("Engine: ") + engine.value_or(QStringLiteral("none"));
    lines << QStringLiteral("TLD: ") + herd.tld();
    const QStringList parked = herd.parkedDirectories();
    lines << QStringLiteral("Parked: ") + (parked.isEmpty() ? QStringLiteral("none") : parked.join(QStringLiteral(", ")));
    lines << QStringLiteral("CLI: ") + herd.cliPath().value_or(QStringLiteral("none"));
    QString php = herd.globalPHPPath().value_or(QStringLiteral("none"));
    if (phpVersion)
        php += QStringLiteral(" (") + *phpVersion + QStringLiteral(")");
    lines << QStringLiteral("PHP: ") + php;
    print(out, lines.join(QLatin1Char('\n')));
    return 0;
}

} // namespace halvik::cli
