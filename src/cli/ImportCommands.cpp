#include "ImportCommands.h"

#include "services/composer/ComposerService.h"

#include "CliContext.h"
#include "CliJson.h"

#include "app/AppServices.h"
#include "app/ImportAllModel.h"
#include "app/ImportPaths.h"
#include "app/SiteImporter.h"
#include "services/HerdService.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace halvik::cli {

namespace {

QString siteText(const Site& site)
{
    QString text =
        QStringLiteral("Imported “%1”\n  path: %2\n  PHP: %3\n  served by Herd/Valet: %4\n  static site: %5")
            .arg(site.displayName(), site.path(), site.phpSourceRaw(),
                 site.herdLinked() ? QStringLiteral("yes") : QStringLiteral("no"),
                 site.usesSSG() ? QStringLiteral("yes") : QStringLiteral("no"));
    if (site.githubRepo())
        text += QStringLiteral("\n  GitHub: ") + *site.githubRepo();
    return text;
}

void print(QTextStream& out, const QString& text)
{
    out << text << Qt::endl;
}

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

QCoro::Task<int> runImportCommand(ImportContext& context, QStringList args, QTextStream& out)
{
    QString path;
    std::optional<QString> name;
    bool json = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--json"))
            json = true;
        else if (args[i] == QLatin1String("--name") && i + 1 < args.size())
            name = args[++i];
        else if (args[i] == QLatin1String("--name"))
            throw CliError::usage(QStringLiteral("--name needs a name."));
        else if (path.isEmpty() && !args[i].startsWith(QLatin1String("--")))
            path = args[i];
        else
            throw CliError::usage(QStringLiteral("Unexpected “%1” for import.").arg(args[i]));
    }
    path = absoluteFolder(path);
    if (path.isEmpty())
        throw CliError::usage(
            QStringLiteral("Name the folder to import: halvik import <path> [--name NAME] [--json]."));
    if (!QFileInfo(path).isDir())
        throw CliError(QStringLiteral("That folder doesn’t exist."));
    prepare(context);
    if (const SitePtr existing = context.services.store().siteAtPath(path))
        throw CliError(QStringLiteral("Already in Halvik as “") + existing->displayName() +
                       QStringLiteral("”"));
    if (!QFileInfo(path + QStringLiteral("/composer.json")).isFile())
        throw CliError(QStringLiteral("That folder does not contain composer.json."));

    const SitePtr site = co_await context.importer.importExistingSite(path, name);
    if (const auto noArtisan = ComposerService::artisanUnavailable(*site)) {
        QTextStream err(stderr);
        err << "halvik: warning: " << *noArtisan << '\n';
    }
    if (json)
        printJson(out, siteJson(*site));
    else
        print(out, siteText(*site));
    co_return 0;
}

QCoro::Task<int> runImportAllCommand(ImportContext& context, QStringList args, QTextStream& out)
{
    QString folder;
    bool json = false;
    for (const QString& arg : args) {
        if (arg == QLatin1String("--json"))
            json = true;
        else if (folder.isEmpty() && !arg.startsWith(QLatin1String("--")))
            folder = arg;
        else
            throw CliError::usage(QStringLiteral("Unexpected “%1” for import-all.").arg(arg));
    }
    if (folder.trimmed().isEmpty())
        throw CliError::usage(
            QStringLiteral("Name the folder to scan: halvik import-all <folder> [--json]."));
    prepare(context);

    ImportAllModel model(context.services, context.importer);
    model.setFolderText(absoluteFolder(folder));
    co_await model.rescan();
    if (!model.errorText().isEmpty())
        throw CliError(model.errorText());
    const QString summary = model.scanSummary();
    const QList<DiscoveredSite> chosen = model.selectedSites();
    co_await model.importAll();

    QList<SitePtr> imported;
    for (const DiscoveredSite& candidate : chosen)
        if (const SitePtr site = context.services.store().siteAtPath(candidate.path))
            imported << site;
    if (json) {
        Json sites = Json::array();
        for (const SitePtr& site : imported)
            sites.push_back(siteJson(*site));
        printJson(out, Json{{"summary", utf8(summary)}, {"imported", sites}});
    } else {
        print(out, summary);
        for (const SitePtr& site : imported)
            print(out, siteText(*site));
    }
    if (!model.errorText().isEmpty())
        throw CliError(model.errorText());
    co_return 0;
}

QCoro::Task<int> runEngineCommand(ImportContext& context, QStringList args, QTextStream& out)
{
    const bool json = args.contains(QStringLiteral("--json"));
    for (const QString& arg : args)
        if (arg != QLatin1String("--json"))
            throw CliError::usage(QStringLiteral("Unknown option %1 for engine.").arg(arg));
    HerdService& herd = context.herd;
    herd.refresh();
    std::optional<QString> phpVersion;
    if (const auto php = herd.globalPHPPath())
        phpVersion = co_await herd.phpVersion(*php);
    herd.setGlobalPHPVersion(phpVersion);

    const std::optional<QString> engine =
        herd.engine() ? std::optional(engineDisplayName(*herd.engine())) : std::nullopt;
    if (json) {
        Json parked = Json::array();
        for (const QString& folder : herd.parkedDirectories())
            parked.push_back(utf8(folder));
        printJson(out, Json{{"engine", herd.engine() ? Json(utf8(toRaw(*herd.engine()))) : Json(nullptr)},
                            {"tld", utf8(herd.tld())},
                            {"parkedDirectories", parked},
                            {"cliPath", optionalJson(herd.cliPath())},
                            {"globalPHPPath", optionalJson(herd.globalPHPPath())},
                            {"globalPHPVersion", optionalJson(phpVersion)}});
        co_return 0;
    }
    QStringList lines;
    lines << QStringLiteral("Engine: ") + engine.value_or(QStringLiteral("none"));
    lines << QStringLiteral("TLD: ") + herd.tld();
    const QStringList parked = herd.parkedDirectories();
    lines << QStringLiteral("Parked: ") +
                 (parked.isEmpty() ? QStringLiteral("none") : parked.join(QStringLiteral(", ")));
    lines << QStringLiteral("CLI: ") + herd.cliPath().value_or(QStringLiteral("none"));
    QString php = herd.globalPHPPath().value_or(QStringLiteral("none"));
    if (phpVersion)
        php += QStringLiteral(" (") + *phpVersion + QStringLiteral(")");
    lines << QStringLiteral("PHP: ") + php;
    print(out, lines.join(QLatin1Char('\n')));
    co_return 0;
}

namespace {

using ImportRunner = QCoro::Task<int> (*)(ImportContext&, QStringList, QTextStream&);

// The context lives in this frame for as long as the command runs.
QCoro::Task<int> withImportContext(CliCall& call, ImportRunner runner)
{
    ImportContext context{call.app(), call.app().herd(), call.app().importer()};
    co_return co_await runner(context, call.args, out());
}

} // namespace

QList<CliCommand> importCommands()
{
    return {
        {.verb = QStringLiteral("import"),
         .summary = QStringLiteral("register a folder that already holds a site"),
         .run = [](CliCall& call) { return withImportContext(call, runImportCommand); },
         .forms = {{.arguments = QStringLiteral("<path> [--name NAME] [--json]"),
                    .help = QStringLiteral("add a folder that already holds a site"),
                    .options = {{QStringLiteral("--name"), QStringLiteral("NAME"),
                                 QStringLiteral("the site’s display name")},
                                jsonOption()}}}},
        {.verb = QStringLiteral("import-all"),
         .summary = QStringLiteral("register every Quillmar site in a folder"),
         .run = [](CliCall& call) { return withImportContext(call, runImportAllCommand); },
         .forms = {{.arguments = QStringLiteral("<folder> [--json]"),
                    .help = QStringLiteral("add every Quillmar site directly inside a folder"),
                    .options = {jsonOption()}}}},
        {.verb = QStringLiteral("engine"),
         .summary = QStringLiteral("show the serving engine’s set-up"),
         .run = [](CliCall& call) { return withImportContext(call, runEngineCommand); },
         .forms = {{.arguments = QStringLiteral("[--json]"),
                    .help = QStringLiteral("show the Herd or Valet set-up: TLD, parked folders, PHP"),
                    .options = {jsonOption()}}}},
    };
}

} // namespace halvik::cli
