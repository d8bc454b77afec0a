#include "ComposerService.h"

#include "ComposerFiles.h"
#include "ComposerMessage.h"

#include "gitcore/Redactor.h"
#include "services/HerdService.h"
#include "services/LoggedOperation.h"
#include "services/runtime/RuntimeError.h"
#include "services/runtime/RuntimeManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>

namespace halvik {

namespace {

const QString noInteraction = QStringLiteral("--no-interaction");

QStringList withNoInteraction(QStringList arguments)
{
    if (!arguments.contains(noInteraction))
        arguments.append(noInteraction);
    return arguments;
}

QString commandLine(const ProcessRequest& request)
{
    QStringList parts{request.executable};
    parts += request.arguments;
    return parts.join(QLatin1Char(' '));
}

// A Composer that PHP has to run: a phar, or a script for PHP (Debian's composer starts
// "#!/usr/bin/php"). Run directly, such a script picks its own PHP instead of the site's.
bool runsUnderPHP(const QString& path)
{
    if (path.endsWith(QLatin1String(".phar")))
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(256);
    if (head.startsWith("<?php"))
        return true;
    if (!head.startsWith("#!"))
        return false;
    const qsizetype end = head.indexOf('\n');
    const QByteArray line = head.mid(2, end < 0 ? -1 : end - 2).simplified();
    const QList<QByteArray> words = line.split(' ');
    QByteArray interpreter = words.value(0).mid(words.value(0).lastIndexOf('/') + 1);
    if (interpreter == "env") {
        const auto program = std::find_if(words.cbegin() + 1, words.cend(),
                                          [](const QByteArray& word) { return !word.startsWith('-'); });
        interpreter = program == words.cend() ? QByteArray() : *program;
    }
    return interpreter.startsWith("php");
}

const QString shellPathVariable = QStringLiteral("HALVIK_PATH");
const QString secretArgumentVariable = QStringLiteral("HALVIK_SECRET_ARGUMENT");

// Runs a console script (`php -r <this> -- <script> <arguments…>`) with one argument completed
// inside PHP, so that a secret (make:user's password) reaches the script's argv without ever
// being a process argument, which every account can read: it comes through the environment,
// which only the owner can read, and leaves it before the script starts. The argument given as
// "--password=" alone is the one replaced by the variable's whole value.
const QString consoleWithSecretArgument =
    QStringLiteral(
        "$secret = (string) getenv('%1');"
        "putenv('%1'); unset($_ENV['%1'], $_SERVER['%1']);"
        "$marker = substr($secret, 0, strpos($secret, '=') + 1);"
        "$script = $argv[1];"
        "$rest = array_map(function ($a) use ($marker, $secret) { return $a === $marker ? $secret : $a; },"
        " array_slice($argv, 2));"
        "$_SERVER['argv'] = $argv = array_merge([$script], $rest);"
        "$_SERVER['argc'] = $argc = count($argv);"
        "require getcwd() . '/' . $script;")
        .arg(secretArgumentVariable);

} // namespace

ComposerService::ComposerService(ProcessRunner& runner, RuntimeManager& runtime, const HerdService* herd,
                                 QObject* parent)
    : QObject(parent), m_runner(runner), m_runtime(runtime), m_herd(herd)
{
}

ComposerService::~ComposerService()
{
    m_life.end();
}

ComposerService::Environment ComposerService::processEnvironment(const QString& php) const
{
    Environment environment = m_runtime.composerEnvironment();
    environment.insert(QStringLiteral("PATH"),
                       m_runtime.processPathEntries(php, m_herd).join(QLatin1Char(':')));
    return environment;
}

ComposerService::Launch ComposerService::composerRequest(const Site& site, const QStringList& composerArgs,
                                                         const std::optional<QString>& workingDirectory) const
{
    const RuntimeManager::ComposerLaunch launch = m_runtime.composerLaunch(site, m_herd);
    const QStringList arguments = withNoInteraction(composerArgs);
    ProcessRequest request;
    if (runsUnderPHP(launch.composer)) {
        request.executable = launch.php;
        request.arguments = QStringList{launch.composer} + arguments;
    } else {
        request.executable = launch.composer;
        request.arguments = arguments;
    }
    request.workingDirectory = workingDirectory.value_or(site.path());
    request.environment = processEnvironment(launch.php);
    return {request, commandLine(request)};
}

ComposerService::Launch ComposerService::phpRequest(const Site& site, const QString& script,
                                                    const QStringList& arguments,
                                                    const Environment& environment) const
{
    const auto php = m_runtime.resolvePHP(site, m_herd);
    if (!php)
        throw RuntimeError::phpMissing();
    ProcessRequest request;
    request.executable = php->path;
    request.arguments = QStringList{script} + withNoInteraction(arguments);
    request.workingDirectory = site.path();
    request.environment = processEnvironment(php->path);
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        request.environment.insert(it.key(), it.value());
    return {request, commandLine(request)};
}

void ComposerService::setActive(const SiteOperationPtr& operation)
{
    const std::optional<QUuid> id = operation ? std::optional<QUuid>(operation->id()) : std::nullopt;
    if (m_activeOperationID == id)
        return;
    m_activeOperationID = id;
    Q_EMIT activeOperationChanged();
}

QCoro::Task<ProcessResult> ComposerService::logged(SitePtr site, Launch launch, OperationKind kind,
                                                   OutputCallback onOutput, CancellationToken token,
                                                   QStringList secrets, QString noOutputFailure)
{
    const LifeToken alive = m_life.token();
    LoggedOperationRequest request;
    request.process = std::move(launch.request);
    request.command = launch.command;
    request.kind = kind;
    request.lines = std::move(onOutput);
    request.token = token;
    // Every line is cleaned before it reaches the operation or the caller.
    request.secrets = secrets;
    request.setActive = [this, alive](const SiteOperationPtr& operation) {
        if (alive)
            setActive(operation);
    };
    auto outcome = co_await runLoggedOperation(m_runner, site, std::move(request), m_save);
    if (outcome.result.exitCode != 0) {
        const QString output = outcome.redactedOutput.trimmed();
        if (output.isEmpty())
            throw ComposerServiceError::failed(noOutputFailure.arg(outcome.result.exitCode), QString(),
                                               outcome.result.exitCode);
        // Composer's own message, not its frame line and option synopsis; other tools' output as it is.
        throw ComposerServiceError::failed(kind == OperationKind::composer ? ComposerMessage::describe(output)
                                                                           : output,
                                           output, outcome.result.exitCode);
    }
    co_return outcome.result;
}

QCoro::Task<ProcessResult> ComposerService::oneInFolder(Launch& launch, CancellationToken token,
                                                        std::function<QCoro::Task<ProcessResult>()> body)
{
    const auto pass = co_await m_gate.enter(launch.request.workingDirectory.value_or(QDir::currentPath()));
    auto group = std::make_shared<std::atomic<qint64>>(0);
    launch.request.started = [group](qint64 pid) { *group = pid; };
    ProcessResult result;
    std::exception_ptr failure;
    try {
        result = co_await body();
    } catch (...) {
        failure = std::current_exception();
    }
    // A cancelled Composer's scripts may still be ending: the next run waits for all of them.
    if (token.isCancelled() && pass)
        pass->holdUntilGroupEnds(group->load());
    if (failure)
        std::rethrow_exception(failure);
    co_return result;
}

QCoro::Task<ProcessResult> ComposerService::run(SitePtr site, QStringList composerArgs, OperationKind kind,
                                                std::optional<QString> workingDirectory,
                                                OutputCallback onOutput, CancellationToken token)
{
    Launch launch = composerRequest(*site, composerArgs, workingDirectory);
    const std::function<QCoro::Task<ProcessResult>()> body = [&]() {
        return logged(site, std::move(launch), kind, std::move(onOutput), token, {},
                      QStringLiteral("Composer exited with %1"));
    };
    co_return co_await oneInFolder(launch, token, body);
}

QCoro::Task<ProcessResult> ComposerService::runDetached(SitePtr site, QStringList composerArgs,
                                                        CancellationToken token)
{
    Launch launch = composerRequest(*site, composerArgs, std::nullopt);
    const std::function<QCoro::Task<ProcessResult>()> body = [&]() {
        return m_runner.run(std::move(launch.request), {}, token);
    };
    co_return co_await oneInFolder(launch, token, body);
}

QCoro::Task<QString> ComposerService::requirePackage(SitePtr site, QString package, QString constraint,
                                                     OutputCallback onOutput, CancellationToken token)
{
    const QString name = package.trimmed();
    const QString wanted = constraint.trimmed();
    if (name.isEmpty())
        throw ComposerServiceError::failed(QStringLiteral("Enter a package name."));
    const QStringList args{QStringLiteral("require"),
                           wanted.isEmpty() ? name : name + QLatin1Char(':') + wanted,
                           QStringLiteral("--no-progress"), QStringLiteral("--with-all-dependencies")};
    co_await run(site, args, OperationKind::composer, std::nullopt, std::move(onOutput), token);
    co_return QStringLiteral("Installed ") + name;
}

QCoro::Task<ProcessResult> ComposerService::runPHP(SitePtr site, QString script, QStringList arguments,
                                                   OperationKind kind, Environment environment,
                                                   OutputCallback onOutput, CancellationToken token)
{
    if (script == QLatin1String("artisan"))
        if (const auto reason = artisanUnavailable(*site))
            throw ComposerServiceError::failed(*reason);
    Launch launch = phpRequest(*site, script, arguments, environment);
    co_return co_await logged(site, std::move(launch), kind, std::move(onOutput), token, {},
                              QStringLiteral("PHP exited with %1"));
}

QCoro::Task<ProcessResult> ComposerService::runPHPDetached(SitePtr site, QString script,
                                                           QStringList arguments, CancellationToken token)
{
    if (script == QLatin1String("artisan"))
        if (const auto reason = artisanUnavailable(*site))
            throw ComposerServiceError::failed(*reason);
    Launch launch = phpRequest(*site, script, arguments, {});
    co_return co_await m_runner.run(std::move(launch.request), {}, token);
}

std::optional<QString> ComposerService::artisanUnavailable(const Site& site)
{
    if (QFileInfo::exists(QDir(site.path()).filePath(QStringLiteral("artisan"))))
        return std::nullopt;
    return QStringLiteral("This folder is a Composer project but not a Laravel application (it has no "
                          "artisan file), so Halvik can’t run artisan or serve it here.");
}

bool ComposerService::hasKeffin(const Site& site)
{
    return QFileInfo::exists(QDir(site.path()).filePath(QStringLiteral("keffin")));
}

bool ComposerService::usesCMS(const Site& site)
{
    return hasKeffin(site) || ComposerFiles::requiresCMS(site.path());
}

QCoro::Task<ProcessResult> ComposerService::keffin(SitePtr site, QStringList arguments,
                                                   Environment environment, OutputCallback onOutput,
                                                   CancellationToken token)
{
    if (hasKeffin(*site)) {
        co_return co_await runPHP(site, QStringLiteral("keffin"), arguments, OperationKind::keffin,
                                  environment, std::move(onOutput), token);
    }
    if (!arguments.isEmpty())
        arguments[0] = QStringLiteral("quillmar:") + arguments[0];
    co_return co_await runPHP(site, QStringLiteral("artisan"), arguments, OperationKind::keffin, environment,
                              std::move(onOutput), token);
}

QCoro::Task<ProcessResult> ComposerService::runShell(SitePtr site, QString command, OutputCallback onOutput,
                                                     CancellationToken token)
{
    const QString trimmed = command.trimmed();
    if (trimmed.isEmpty())
        throw ComposerServiceError::failed(QStringLiteral("Enter a command to run."));
    const QString normalized = ComposerFiles::normalizeShellCommand(trimmed);
    QString shell = m_shells.value(m_shells.size() - 1);
    for (const QString& candidate : m_shells) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) {
            shell = candidate;
            break;
        }
    }
    const auto php = m_runtime.resolvePHP(*site, m_herd);
    ProcessRequest request;
    request.executable = shell;
    request.arguments = QStringList{QStringLiteral("-lc"), normalized};
    request.workingDirectory = site->path();
    request.environment = processEnvironment(php ? php->path : QString());
    // What was typed is recorded; what runs first puts Halvik's PATH back in front, since a
    // login shell's profile may replace PATH (Debian's /etc/profile does).
    Launch launch{request, commandLine(request)};
    launch.request.environment.insert(shellPathVariable, request.environment.value(QStringLiteral("PATH")));
    launch.request.arguments[1] =
        QStringLiteral("PATH=\"$%1${PATH:+:$PATH}\"; export PATH\n").arg(shellPathVariable) + normalized;
    co_return co_await logged(site, std::move(launch), OperationKind::shell, std::move(onOutput), token, {},
                              QStringLiteral("Command exited with %1"));
}

QCoro::Task<> ComposerService::createUser(SitePtr site, QString email, QString password, bool superUser,
                                          OutputCallback onOutput)
{
    const QString address = email.trimmed();
    if (address.isEmpty())
        throw ComposerServiceError::failed(QStringLiteral("Enter an email address."));
    if (password.size() < minimumPasswordLength)
        throw ComposerServiceError::failed(QStringLiteral("Password must be at least 8 characters."));
    const QString passwordOption = QStringLiteral("--password=");
    QStringList arguments{QStringLiteral("make:user"), address};
    if (superUser)
        arguments << QStringLiteral("--super");
    arguments << passwordOption;

    const bool viaKeffin = hasKeffin(*site);
    if (!viaKeffin)
        arguments[0] = QStringLiteral("quillmar:make:user");
    const QString script = viaKeffin ? QStringLiteral("keffin") : QStringLiteral("artisan");
    const QString passwordArgument = passwordOption + password;
    Launch launch = phpRequest(*site, script, arguments, {{secretArgumentVariable, passwordArgument}});
    // Recorded as the command it stands for; the password is masked there like everywhere.
    ProcessRequest shown = launch.request;
    shown.arguments.replace(shown.arguments.indexOf(passwordOption), passwordArgument);
    launch.command = commandLine(shown);
    launch.request.arguments =
        QStringList{QStringLiteral("-r"), consoleWithSecretArgument, QStringLiteral("--")} +
        launch.request.arguments;
    const QStringList secrets{password};
    co_await logged(site, std::move(launch), OperationKind::keffin, std::move(onOutput), {}, secrets,
                    QStringLiteral("PHP exited with %1"));
}

QCoro::Task<QList<OutdatedPackage>> ComposerService::outdated(SitePtr site, bool force,
                                                              CancellationToken token)
{
    const QString path = site->path();
    if (!force)
        if (const auto cached = m_outdated.constFind(path); cached != m_outdated.cend())
            co_return *cached;
    const LifeToken alive = m_life.token();
    const QStringList args{QStringLiteral("outdated"), QStringLiteral("--direct"),
                           QStringLiteral("--format=json"), noInteraction};
    const ProcessResult result = co_await runDetached(site, args, token);
    if (result.exitCode != 0 && result.stdout.isEmpty()) {
        const QString output = gitcore::Redactor::redact(result.combined()).trimmed();
        if (output.isEmpty())
            throw ComposerServiceError::failed(
                QStringLiteral("Composer exited with %1").arg(result.exitCode));
        throw ComposerServiceError::failed(ComposerMessage::describe(output), output);
    }
    // Without vendor/ Composer lists nothing, says why on its error stream, and exits 0.
    if (ComposerMessage::saysNotInstalled(result.stderr.text()))
        throw ComposerServiceError::failed(ComposerMessage::notInstalled(),
                                           gitcore::Redactor::redact(result.stderr.text()));
    QList<OutdatedPackage> packages = ComposerFiles::parseOutdated(result.stdout.text());
    if (alive) {
        m_outdated.insert(path, packages);
        Q_EMIT outdatedChanged(path);
    }
    co_return packages;
}

std::optional<QList<OutdatedPackage>> ComposerService::cachedOutdated(const Site& site) const
{
    if (const auto cached = m_outdated.constFind(site.path()); cached != m_outdated.cend())
        return *cached;
    return std::nullopt;
}

SiteManifest ComposerService::readManifest(const Site& site)
{
    return ComposerFiles::readManifest(site.path());
}

QCoro::Task<QList<ConsoleCommand>> ComposerService::listConsoleCommands(SitePtr site, bool force)
{
    const QString path = site->path();
    if (!force)
        if (const auto cached = m_commands.constFind(path); cached != m_commands.cend())
            co_return *cached;
    const LifeToken alive = m_life.token();
    const QStringList listArgs{QStringLiteral("list"), QStringLiteral("--format=json"), noInteraction};
    QList<ConsoleCommand> commands;
    if (hasKeffin(*site)) {
        const ProcessResult keffinList = co_await runPHPDetached(site, QStringLiteral("keffin"), listArgs);
        if (!alive)
            co_return commands;
        commands += ComposerFiles::parseConsoleCommands(keffinList.stdout.text(), QStringLiteral("keffin"));
    }
    const ProcessResult artisanList = co_await runPHPDetached(site, QStringLiteral("artisan"), listArgs);
    if (!alive)
        co_return commands;
    commands += ComposerFiles::parseConsoleCommands(artisanList.stdout.text(), QStringLiteral("artisan"));
    m_commands.insert(path, commands);
    co_return commands;
}

} // namespace halvik
