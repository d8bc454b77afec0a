#include "RuntimeCommands.h"

#include "CliJson.h"

#include "services/HerdService.h"
#include "services/runtime/NodeRuntime.h"
#include "services/runtime/RuntimeError.h"
#include "services/runtime/RuntimeFiles.h"
#include "services/runtime/RuntimeManager.h"

#include "platform/QuitSignals.h"

#include <QObject>
#include <QRegularExpression>

#include <unistd.h>

namespace halvik::cli {

namespace {

Json phpJson(const ManagedPHP& php)
{
    return Json{{"line", utf8(php.line)},
                {"version", optionalJson(php.version)},
                {"path", utf8(php.path)},
                {"bundled", php.bundled}};
}

Json snapshotJson(const RuntimeManager& runtime)
{
    const RuntimeSnapshot& snapshot = runtime.snapshot();
    Json extra = Json::array();
    for (const ManagedPHP& php : snapshot.extraPHP)
        extra.push_back(phpJson(php));
    Json offered = Json::array();
    for (const QString& line : RuntimeFiles::offeredPHPLines())
        offered.push_back(utf8(line));
    const NodeRuntime node(runtime.roots());
    const auto toolchain = node.resolve();
    Json nodeJson = nullptr;
    if (toolchain)
        nodeJson = Json{{"source", utf8(toRaw(toolchain->source))},
                        {"node", utf8(toolchain->node)},
                        {"npm", utf8(toolchain->npm)},
                        {"npx", optionalJson(toolchain->npx)},
                        {"binDirectory", utf8(toolchain->binDirectory)}};
    return Json{{"managedPHP", Json{{"path", optionalJson(snapshot.managedPHPPath)},
                                    {"version", optionalJson(snapshot.managedPHPVersion)}}},
                {"extraPHP", extra},
                {"offeredPHPLines", offered},
                {"composer", Json{{"path", optionalJson(snapshot.composerPath)},
                                  {"version", optionalJson(snapshot.composerVersion)},
                                  {"latest", optionalJson(snapshot.latestComposerVersion)}}},
                {"node", nodeJson},
                {"managedNode", Json{{"installed", node.hasManagedNode()},
                                     {"version", optionalJson(node.managedVersion())}}},
                {"lastError", optionalJson(runtime.lastError())}};
}

QString orNone(const std::optional<QString>& value)
{
    return value.value_or(QStringLiteral("none"));
}

void printSnapshot(const RuntimeManager& runtime)
{
    const RuntimeSnapshot& snapshot = runtime.snapshot();
    QTextStream& o = out();
    o << "Halvik PHP:  " << orNone(snapshot.managedPHPPath);
    if (snapshot.managedPHPVersion)
        o << " (" << *snapshot.managedPHPVersion << ")";
    o << '\n';
    for (const ManagedPHP& php : snapshot.extraPHP)
        o << "PHP " << php.line << ":     " << php.path << " ("
          << php.version.value_or(QStringLiteral("version unknown")) << (php.bundled ? ", bundled" : "")
          << ")\n";
    o << "Composer:    " << orNone(snapshot.composerPath);
    if (snapshot.composerVersion)
        o << " (" << *snapshot.composerVersion << ")";
    if (snapshot.latestComposerVersion)
        o << ", latest " << *snapshot.latestComposerVersion;
    o << '\n';
    const NodeRuntime node(runtime.roots());
    const auto toolchain = node.resolve();
    o << "Node:        "
      << (toolchain ? toolchain->node + QStringLiteral(" (") + title(toolchain->source) + QLatin1Char(')')
                    : QStringLiteral("none"))
      << '\n';
    if (node.hasManagedNode())
        o << "Halvik Node: " << orNone(node.managedVersion()) << '\n';
    if (runtime.lastError())
        o << "Problem:     " << *runtime.lastError() << '\n';
}

// Shows the install's progress while it runs: one line rewritten in place on a terminal, each
// new step on its own line otherwise. Ctrl-C cancels the install cleanly.
class InstallWatcher : public QObject
{
public:
    using Progress = std::function<std::optional<QString>()>;
    InstallWatcher(RuntimeManager& runtime, Progress progress, std::function<void()> cancel)
        : m_progress(std::move(progress)), m_terminal(::isatty(STDOUT_FILENO) == 1)
    {
        connect(&runtime, &RuntimeManager::changed, this, &InstallWatcher::show);
        connect(&m_signals, &QuitSignals::received, this, [cancel = std::move(cancel)](int) { cancel(); });
    }
    ~InstallWatcher() override
    {
        if (m_terminal && !m_last.isEmpty())
            out() << '\n';
        out().flush();
    }

private:
    void show()
    {
        const QString text = m_progress().value_or(QString());
        if (text.isEmpty() || text == m_last)
            return;
        // The step without its running figure: "Downloading PHP 8.3.10… 42%" -> "Downloading PHP 8.3.10…".
        static const QRegularExpression figure(QStringLiteral("\\s+[\\d.]+(%| MB)$"));
        const QString step = QString(text).remove(figure);
        if (m_terminal)
            out() << '\r' << text.leftJustified(m_last.size());
        else if (step != m_lastStep)
            out() << step << '\n';
        out().flush();
        m_last = text;
        m_lastStep = step;
    }

    Progress m_progress;
    bool m_terminal;
    QString m_last;
    QString m_lastStep;
    QuitSignals m_signals;
};

void expectArguments(const QStringList& args, qsizetype count, const char* usage)
{
    if (args.size() != count)
        throw CliError::usage(QStringLiteral("Usage: halvik runtime %1").arg(QLatin1String(usage)));
}

QCoro::Task<int> installPHP(RuntimeManager& runtime, QString line)
{
    {
        InstallWatcher watcher(
            runtime, [&runtime] { return runtime.phpInstallProgress(); },
            [&runtime] { runtime.cancelPHPInstall(); });
        co_await runtime.installManagedPHP(line);
    }
    const auto php = runtime.extraPHP(line);
    if (!php)
        throw CliError(QStringLiteral("PHP %1 did not install.").arg(line));
    out() << "Installed PHP " << php->version.value_or(php->line) << " at " << php->path << '\n';
    co_return 0;
}

QCoro::Task<int> installNode(RuntimeManager& runtime)
{
    {
        InstallWatcher watcher(
            runtime, [&runtime] { return runtime.nodeInstallProgress(); },
            [&runtime] { runtime.cancelNodeInstall(); });
        co_await runtime.installManagedNode();
    }
    const NodeRuntime node(runtime.roots());
    out() << "Installed Node " << orNone(node.managedVersion()) << " at " << runtime.roots().managedNode()
          << '\n';
    co_return 0;
}

QCoro::Task<int> sitePHP(AppServices& services, QStringList args)
{
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    expectArguments(args, 1, "php <site> [--json]");
    const SitePtr site = resolveSite(services.store(), args.first());
    const auto php = services.runtime().resolvePHP(*site, &services.herd());
    if (!php)
        throw CliError(RuntimeError::phpMissing().description());
    QString version = php->version;
    if (version.isEmpty()) {
        const std::optional<QString> asked = co_await services.herd().phpVersion(php->path);
        version = asked.value_or(QString());
    }
    if (json) {
        printJson(out(), Json{{"site", siteJson(*site)},
                              {"path", utf8(php->path)},
                              {"version", version.isEmpty() ? Json(nullptr) : Json(utf8(version))},
                              {"source", utf8(toRaw(php->source))}});
    } else {
        out() << php->path << " (" << (version.isEmpty() ? QStringLiteral("version unknown") : version)
              << ", " << toRaw(php->source) << ")\n";
    }
    co_return 0;
}

} // namespace

QCoro::Task<int> runRuntimeCommand(AppServices& services, QStringList args)
{
    RuntimeManager& runtime = services.runtime();
    const QString verb = args.value(0);
    const QStringList rest = args.mid(1);
    if (verb.isEmpty() || verb == QStringLiteral("--json")) {
        for (const QString& arg : args)
            if (arg != QStringLiteral("--json"))
                throw CliError::usage(QStringLiteral("Unknown option %1 for runtime.").arg(arg));
        co_await runtime.refreshVersions();
        co_await runtime.refreshLatestComposerVersion();
        if (args.contains(QStringLiteral("--json")))
            printJson(out(), snapshotJson(runtime));
        else
            printSnapshot(runtime);
        co_return 0;
    }
    if (verb == QStringLiteral("php"))
        co_return co_await sitePHP(services, rest);

    runtime.seedIfNeeded();
    if (verb == QStringLiteral("install-php")) {
        expectArguments(rest, 1, "install-php LINE");
        co_return co_await installPHP(runtime, RuntimeFiles::normalizedPHPLine(rest.first()));
    }
    if (verb == QStringLiteral("remove-php")) {
        expectArguments(rest, 1, "remove-php LINE");
        const QString line = RuntimeFiles::normalizedPHPLine(rest.first());
        if (!runtime.extraPHP(line))
            throw CliError(QStringLiteral("Halvik has no downloaded PHP %1.").arg(line));
        runtime.removeManagedPHP(line);
        out() << "Removed PHP " << line << '\n';
        co_return 0;
    }
    if (verb == QStringLiteral("install-node")) {
        expectArguments(rest, 0, "install-node");
        co_return co_await installNode(runtime);
    }
    if (verb == QStringLiteral("remove-node")) {
        expectArguments(rest, 0, "remove-node");
        if (!NodeRuntime(runtime.roots()).hasManagedNode())
            throw CliError(QStringLiteral("Halvik has no Node of its own."));
        runtime.removeManagedNode();
        out() << "Removed Halvik’s Node\n";
        co_return 0;
    }
    throw CliError::usage(QStringLiteral("Unknown runtime command “%1”.").arg(verb));
}

QList<CliCommand> runtimeCommands()
{
    return {
        {.verb = QStringLiteral("runtime"),
         .summary = QStringLiteral("Halvik’s own PHP, Composer and Node"),
         .run = [](CliCall& call) { return runRuntimeCommand(call.app(), call.args); },
         .forms = {{.arguments = QStringLiteral("[--json]"),
                    .help = QStringLiteral("Halvik’s own PHP, Composer and Node, and the Node in use"),
                    .options = {jsonOption()}},
                   {.subverb = QStringLiteral("install-php"),
                    .arguments = QStringLiteral("LINE"),
                    .help = QStringLiteral("download the latest static PHP of a line (8.2 to 8.5)")},
                   {.subverb = QStringLiteral("remove-php"),
                    .arguments = QStringLiteral("LINE"),
                    .help = QStringLiteral("remove a downloaded PHP line")},
                   {.subverb = QStringLiteral("install-node"),
                    .help = QStringLiteral("download Node 22 LTS for Halvik’s own use")},
                   {.subverb = QStringLiteral("remove-node"), .help = QStringLiteral("remove Halvik’s Node")},
                   {.subverb = QStringLiteral("php"),
                    .arguments = QStringLiteral("<site> [--json]"),
                    .help = QStringLiteral("the PHP a site runs with: path, version, source"),
                    .options = {jsonOption()}}}},
    };
}

} // namespace halvik::cli
