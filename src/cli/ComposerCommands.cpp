#include "ComposerCommands.h"

#include "CliJson.h"

#include "app/PackageUpdateCoordinator.h"
#include "services/DotEnvFile.h"
#include "services/OperationLogSink.h"
#include "services/composer/ComposerService.h"
#include "services/composer/ConflictTranslator.h"
#include "services/composer/VersionBump.h"

#include "async/Sleep.h"
#include "platform/QuitSignals.h"

#include <QCoroSignal>
#include <QDir>

#include <unistd.h>

namespace halvik::cli {

namespace {

const QStringList verbs{QStringLiteral("packages"), QStringLiteral("outdated"), QStringLiteral("update"),
                        QStringLiteral("require"),  QStringLiteral("composer"), QStringLiteral("artisan"),
                        QStringLiteral("keffin"),   QStringLiteral("commands"), QStringLiteral("env"),
                        QStringLiteral("run")};

QString optional(const std::optional<QString>& value)
{
    return value.value_or(QStringLiteral("—"));
}

// Takes the options a verb knows out of `args`; anything else starting with "--" is a usage error.
bool takeFlag(QStringList& args, const QString& flag)
{
    return args.removeAll(flag) > 0;
}

void expectNoOptions(const QStringList& args, const QString& verb)
{
    for (const QString& arg : args)
        if (arg.startsWith(QLatin1String("--")))
            throw CliError::usage(QStringLiteral("Unknown option %1 for %2.").arg(arg, verb));
}

SitePtr takeSite(AppServices& services, QStringList& args, const QString& usage)
{
    if (args.isEmpty() || args.first().startsWith(QLatin1String("--")))
        throw CliError::usage(QStringLiteral("Usage: halvik ") + usage);
    return resolveSite(services.store(), args.takeFirst());
}

// Prints a child's lines as they arrive, on the main thread.
class LivePrinter
{
public:
    LivePrinter()
        : m_sink(OperationLogSink::create(&m_context, [](const QString& batch, bool) {
              out() << batch << '\n';
              out().flush();
          }))
    {
    }
    ~LivePrinter() { m_sink->flush(); }
    ComposerService::OutputCallback callback() const
    {
        return [sink = m_sink](const ProcessOutput& output) { sink->append(output.line); };
    }
    void flush() { m_sink->flush(); }

private:
    QObject m_context;
    std::shared_ptr<OperationLogSink> m_sink;
};

void printAdvice(const QString& output)
{
    const QList<ConflictAdvice> advice = ConflictTranslator::translate(output);
    if (advice.isEmpty())
        return;
    QTextStream& o = out();
    o << '\n';
    for (const ConflictAdvice& item : advice) {
        // The fallback only repeats the end of what was just printed.
        if (item.title == QLatin1String("Composer failed"))
            continue;
        o << "Advice: " << item.title << '\n' << "  " << item.detail << '\n';
    }
    o.flush();
}

// Runs one logged tool command with its output streamed; a failure prints the advice after it.
using ToolRun = std::function<QCoro::Task<ProcessResult>(ComposerService::OutputCallback)>;

QCoro::Task<int> streamed(ToolRun body, bool advise)
{
    LivePrinter printer;
    std::optional<QString> failure;
    try {
        co_await body(printer.callback());
    } catch (const ComposerServiceError& error) {
        failure = error.output();
    }
    printer.flush();
    if (!failure)
        co_return 0;
    if (advise)
        printAdvice(*failure);
    throw CliError(QStringLiteral("The command failed; its output is above."));
}

Json manifestJson(const Site& site, const SiteManifest& manifest)
{
    Json packages = Json::array();
    for (const InstalledPackage& p : manifest.packages)
        packages.push_back(Json{
            {"name", utf8(p.name)},
            {"version", utf8(p.version)},
            {"description", optionalJson(p.description)},
            {"repositoryURL", p.repositoryURL ? Json(utf8(p.repositoryURL->toString())) : Json(nullptr)}});
    return Json{{"site", siteJson(site)},
                {"phpConstraint", optionalJson(manifest.phpConstraint)},
                {"laravelVersion", optionalJson(manifest.laravelVersion)},
                {"quillmarVersion", optionalJson(manifest.quillmarVersion)},
                {"contentStorage", utf8(toRaw(manifest.contentStorage))},
                {"packages", packages}};
}

QCoro::Task<int> packages(AppServices& services, QStringList args)
{
    const bool json = takeFlag(args, QStringLiteral("--json"));
    const SitePtr site = takeSite(services, args, QStringLiteral("packages <site> [--json]"));
    expectNoOptions(args, QStringLiteral("packages"));
    const SiteManifest manifest = ComposerService::readManifest(*site);
    if (json) {
        printJson(out(), manifestJson(*site, manifest));
        co_return 0;
    }
    QTextStream& o = out();
    o << "PHP:      " << optional(manifest.phpConstraint) << '\n'
      << "Laravel:  " << optional(manifest.laravelVersion) << '\n'
      << "Quillmar: " << optional(manifest.quillmarVersion) << '\n'
      << "Content:  " << title(manifest.contentStorage) << '\n';
    if (manifest.packages.isEmpty()) {
        o << "\nNo installed packages (run “halvik composer " << site->displayName() << " install”).\n";
        co_return 0;
    }
    qsizetype width = 0;
    for (const InstalledPackage& p : manifest.packages)
        width = std::max(width, p.name.size());
    o << '\n';
    for (const InstalledPackage& p : manifest.packages)
        o << p.name.leftJustified(width + 2) << p.version << '\n';
    co_return 0;
}

QCoro::Task<int> outdated(AppServices& services, QStringList args)
{
    const bool json = takeFlag(args, QStringLiteral("--json"));
    const bool force = takeFlag(args, QStringLiteral("--force"));
    const SitePtr site = takeSite(services, args, QStringLiteral("outdated <site> [--json] [--force]"));
    expectNoOptions(args, QStringLiteral("outdated"));
    const QList<OutdatedPackage> list = co_await services.composer().outdated(site, force);
    if (json) {
        Json packages = Json::array();
        for (const OutdatedPackage& p : list) {
            const Json bump = p.current && p.latest
                                  ? Json(utf8(toRaw(VersionBumps::compare(*p.current, *p.latest))))
                                  : Json(nullptr);
            packages.push_back(Json{{"name", utf8(p.name)},
                                    {"current", optionalJson(p.current)},
                                    {"latest", optionalJson(p.latest)},
                                    {"latestStatus", optionalJson(p.latestStatus)},
                                    {"bump", bump},
                                    {"description", optionalJson(p.description)}});
        }
        printJson(out(), Json{{"site", siteJson(*site)}, {"outdated", packages}});
        co_return 0;
    }
    if (list.isEmpty()) {
        out() << "Every direct dependency is up to date.\n";
        co_return 0;
    }
    qsizetype width = 0;
    for (const OutdatedPackage& p : list)
        width = std::max(width, p.name.size());
    for (const OutdatedPackage& p : list) {
        out() << p.name.leftJustified(width + 2) << optional(p.current) << " → " << optional(p.latest);
        if (p.current && p.latest)
            out() << "  (" << title(VersionBumps::compare(*p.current, *p.latest)) << ')';
        out() << '\n';
    }
    co_return 0;
}

// The log as it grows, with a progress bar kept on the last line of a terminal.
class UpdatePrinter : public QObject
{
public:
    explicit UpdatePrinter(PackageUpdateJob& job) : m_job(job), m_terminal(::isatty(STDOUT_FILENO) == 1)
    {
        connect(&job, &PackageUpdateJob::logAppended, this, [this](const QString& text, bool) {
            clearBar();
            out() << text << '\n';
            drawBar();
        });
        connect(&job, &PackageUpdateJob::progressChanged, this, [this](double) {
            clearBar();
            drawBar();
        });
        out() << job.log() << '\n';
        drawBar();
    }
    ~UpdatePrinter() override
    {
        clearBar();
        out().flush();
    }

private:
    void clearBar()
    {
        if (m_terminal && m_barShown)
            out() << "\r\033[K";
        m_barShown = false;
    }
    void drawBar()
    {
        if (!m_terminal || m_job.isFinished()) {
            out().flush();
            return;
        }
        const int width = 30;
        const int filled = int(m_job.fractionComplete() * width);
        out() << '[' << QString(filled, QLatin1Char('#')) << QString(width - filled, QLatin1Char('-')) << "] "
              << int(m_job.fractionComplete() * 100) << '%';
        out().flush();
        m_barShown = true;
    }

    PackageUpdateJob& m_job;
    bool m_terminal;
    bool m_barShown = false;
};

QCoro::Task<int> update(AppServices& services, QStringList args)
{
    const SitePtr site = takeSite(services, args, QStringLiteral("update <site>"));
    expectNoOptions(args, QStringLiteral("update"));
    if (!args.isEmpty())
        throw CliError::usage(QStringLiteral("Usage: halvik update <site>"));
    PackageUpdateCoordinator& updates = services.packageUpdates();
    updates.start(site);
    PackageUpdateJob* job = updates.job(site->id());
    QuitSignals interrupt;
    const QUuid id = site->id();
    QObject::connect(&interrupt, &QuitSignals::received, &updates,
                     [&updates, id](int) { updates.cancel(id); });
    {
        UpdatePrinter printer(*job);
        if (!job->isFinished())
            co_await qCoro(job, &PackageUpdateJob::finished);
    }
    // The coordinator is still inside the signal: let it return before anything goes away.
    co_await sleepFor(std::chrono::milliseconds(0));
    if (job->succeeded()) {
        out() << "Packages updated\n";
        co_return 0;
    }
    if (job->errorMessage() == QStringLiteral("Cancelled"))
        throw CliError(QStringLiteral("Update cancelled."));
    printAdvice(job->errorMessage().value_or(QString()));
    throw CliError(QStringLiteral("Update failed"));
}

QCoro::Task<int> require(AppServices& services, QStringList args)
{
    const SitePtr site = takeSite(services, args, QStringLiteral("require <site> PACKAGE[:CONSTRAINT]"));
    if (args.size() != 1 || args.first().startsWith(QLatin1String("--")))
        throw CliError::usage(QStringLiteral("Usage: halvik require <site> PACKAGE[:CONSTRAINT]"));
    const QString spec = args.first();
    const qsizetype colon = spec.indexOf(QLatin1Char(':'));
    const QString package = colon < 0 ? spec : spec.left(colon);
    const QString constraint = colon < 0 ? QString() : spec.mid(colon + 1);
    ComposerService& composer = services.composer();
    QString message;
    const ToolRun body = [&](ComposerService::OutputCallback output) -> QCoro::Task<ProcessResult> {
        message = co_await composer.requirePackage(site, package, constraint, std::move(output));
        co_return ProcessResult{};
    };
    co_await streamed(body, true);
    out() << message << '\n';
    co_return 0;
}

QStringList toolArguments(QStringList args)
{
    if (args.value(0) == QLatin1String("--"))
        args.removeFirst();
    return args;
}

QCoro::Task<int> commands(AppServices& services, QStringList args)
{
    const bool json = takeFlag(args, QStringLiteral("--json"));
    const SitePtr site = takeSite(services, args, QStringLiteral("commands <site> [--json]"));
    expectNoOptions(args, QStringLiteral("commands"));
    const QList<ConsoleCommand> list = co_await services.composer().listConsoleCommands(site);
    if (json) {
        Json items = Json::array();
        for (const ConsoleCommand& c : list)
            items.push_back(
                Json{{"tool", utf8(c.tool)}, {"name", utf8(c.name)}, {"description", utf8(c.description)}});
        printJson(out(), Json{{"site", siteJson(*site)}, {"commands", items}});
        co_return 0;
    }
    if (list.isEmpty())
        throw CliError(QStringLiteral("No console commands answered in %1.").arg(site->path()));
    qsizetype width = 0;
    for (const ConsoleCommand& c : list)
        width = std::max(width, c.name.size());
    QString tool;
    for (const ConsoleCommand& c : list) {
        if (c.tool != tool) {
            out() << (tool.isEmpty() ? "" : "\n")
                  << (c.tool == QLatin1String("keffin") ? "Keffin" : "Artisan") << ":\n";
            tool = c.tool;
        }
        out() << "  " << c.name.leftJustified(width + 2) << c.description << '\n';
    }
    co_return 0;
}

QCoro::Task<int> env(AppServices& services, QStringList args)
{
    std::optional<QString> key;
    if (const qsizetype at = args.indexOf(QStringLiteral("--get")); at >= 0) {
        if (at + 1 >= args.size())
            throw CliError::usage(QStringLiteral("Usage: halvik env <site> [--get KEY]"));
        key = args.at(at + 1);
        args.remove(at, 2);
    }
    const SitePtr site = takeSite(services, args, QStringLiteral("env <site> [--get KEY]"));
    expectNoOptions(args, QStringLiteral("env"));
    if (!args.isEmpty())
        throw CliError::usage(QStringLiteral("Usage: halvik env <site> [--get KEY]"));
    const QString text = DotEnvFile::load(QDir(site->path()).filePath(QStringLiteral(".env")));
    if (!key) {
        out() << text;
        if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
            out() << '\n';
        co_return 0;
    }
    const auto value = DotEnvFile::value(*key, DotEnvFile::entries(text));
    if (!value)
        throw CliError(QStringLiteral("%1 is not set in .env.").arg(*key));
    out() << *value << '\n';
    co_return 0;
}

} // namespace

bool isComposerCommand(const QString& verb)
{
    return verbs.contains(verb);
}

QCoro::Task<int> runComposerCommand(AppServices& services, QString verb, QStringList args)
{
    if (verb == QLatin1String("packages"))
        co_return co_await packages(services, args);
    if (verb == QLatin1String("outdated"))
        co_return co_await outdated(services, args);
    if (verb == QLatin1String("update"))
        co_return co_await update(services, args);
    if (verb == QLatin1String("require"))
        co_return co_await require(services, args);
    if (verb == QLatin1String("commands"))
        co_return co_await commands(services, args);
    if (verb == QLatin1String("env"))
        co_return co_await env(services, args);

    const QString usage = verb + QStringLiteral(" <site> ARGS…");
    const SitePtr site = takeSite(services, args, usage);
    const QStringList toolArgs = toolArguments(args);
    if (toolArgs.isEmpty())
        throw CliError::usage(QStringLiteral("Usage: halvik ") + usage);
    ComposerService& composer = services.composer();
    if (verb == QLatin1String("composer")) {
        const ToolRun body = [&](ComposerService::OutputCallback output) {
            return composer.run(site, toolArgs, OperationKind::composer, std::nullopt, std::move(output));
        };
        co_return co_await streamed(body, true);
    }
    if (verb == QLatin1String("artisan")) {
        if (const auto noArtisan = ComposerService::artisanUnavailable(*site))
            throw CliError(*noArtisan);
        const ToolRun body = [&](ComposerService::OutputCallback output) {
            return composer.runPHP(site, QStringLiteral("artisan"), toolArgs, OperationKind::artisan, {},
                                   std::move(output));
        };
        co_return co_await streamed(body, false);
    }
    if (verb == QLatin1String("run")) {
        // One command line, as typed in the window: the words are joined back with spaces.
        const QString command = toolArgs.join(QLatin1Char(' '));
        const ToolRun body = [&](ComposerService::OutputCallback output) {
            return composer.runShell(site, command, std::move(output));
        };
        co_return co_await streamed(body, false);
    }
    const ToolRun body = [&](ComposerService::OutputCallback output) {
        return composer.keffin(site, toolArgs, {}, std::move(output));
    };
    co_return co_await streamed(body, false);
}

QList<CliCommand> composerCommands()
{
    const CliRunner runner = [](CliCall& call) {
        return runComposerCommand(call.app(), call.verb, call.args);
    };
    return {
        {.verb = QStringLiteral("packages"),
         .summary = QStringLiteral("a site’s installed packages"),
         .run = runner,
         .forms = {{.arguments = QStringLiteral("<site> [--json]"),
                    .help = QStringLiteral("installed packages, PHP constraint, Laravel and CMS versions"),
                    .options = {jsonOption()}}}},
        {.verb = QStringLiteral("outdated"),
         .summary = QStringLiteral("a site’s outdated packages"),
         .run = runner,
         .forms = {{.arguments = QStringLiteral("<site> [--json] [--force]"),
                    .help = QStringLiteral("outdated direct dependencies with their bump kind"),
                    .options = {jsonOption(),
                                {QStringLiteral("--force"),
                                 {},
                                 QStringLiteral("ask Composer again instead of the cached answer")}}}}},
        {.verb = QStringLiteral("update"),
         .summary = QStringLiteral("update a site’s packages"),
         .run = runner,
         .forms = {{.arguments = QStringLiteral("<site>"),
                    .help = QStringLiteral("update every package, with a progress bar; Ctrl-C cancels")}}},
        {.verb = QStringLiteral("require"),
         .summary = QStringLiteral("add a package to a site"),
         .run = runner,
         .forms = {{.arguments = QStringLiteral("<site> PACKAGE[:CONSTRAINT]"),
                    .help = QStringLiteral("add a package with Composer")}}},
        {.verb = QStringLiteral("composer"),
         .summary = QStringLiteral("run Composer in a site"),
         .run = runner,
         .forms = {{.arguments = QStringLiteral("<site> ARGS…"),
                    .help = QStringLiteral("any Composer command, logged on the site")}}},
        {.verb = QStringLiteral("artisan"),
         .summary = QStringLiteral("run php artisan in a site"),
         .run = runner,
         .forms = {{.arguments = QStringLiteral("<site> ARGS…"),
                    .help = QStringLiteral("php artisan ARGS… in the site, logged")}}},
        {.verb = QStringLiteral("keffin"),
         .summary = QStringLiteral("run the CMS console in a site"),
         .run = runner,
         .forms = {{.arguments = QStringLiteral("<site> ARGS…"),
                    .help = QStringLiteral("the CMS console (keffin, or artisan quillmar:…), logged")}}},
        {.verb = QStringLiteral("run"),
         .summary = QStringLiteral("run a shell command in a site"),
         .run = runner,
         .forms = {{.arguments = QStringLiteral("<site> [--] COMMAND…"),
                    .help = QStringLiteral("a shell command in the site’s folder, logged")}}},
        {.verb = QStringLiteral("commands"),
         .summary = QStringLiteral("a site’s console commands"),
         .run = runner,
         .forms = {{.arguments = QStringLiteral("<site> [--json]"),
                    .help = QStringLiteral("the site’s artisan and keffin commands"),
                    .options = {jsonOption()}}}},
        {.verb = QStringLiteral("env"),
         .summary = QStringLiteral("a site’s .env"),
         .run = runner,
         .forms = {{.arguments = QStringLiteral("<site> [--get KEY]"),
                    .help = QStringLiteral("print the site’s .env, or one value from it"),
                    .options = {{QStringLiteral("--get"), QStringLiteral("KEY"),
                                 QStringLiteral("print only this variable’s value")}}}}},
    };
}

} // namespace halvik::cli
