#include "StaticSiteBuilder.h"

#include "StaticSiteSupport.h"

#include "services/LoggedOperation.h"
#include "services/ProcessRunner.h"
#include "services/composer/ComposerService.h"
#include "services/composer/ComposerServiceError.h"
#include "services/frontend/NpmCommands.h"
#include "services/runtime/NodeRuntime.h"
#include "services/runtime/RuntimeError.h"
#include "services/runtime/RuntimeManager.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <nlohmann/json.hpp>

namespace halvik {

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

ProcessRunner::OutputCallback forward(const StaticSiteBuilder::LineCallback& onOutput)
{
    return [onOutput](const ProcessOutput& line) {
        if (onOutput)
            onOutput(line.line);
    };
}

} // namespace

StaticSiteBuilder::StaticSiteBuilder(ProcessRunner& runner, RuntimeManager& runtime, const HerdService* herd,
                                     ComposerService& composer, LaravelConfigurationResolver& configuration,
                                     std::function<void()> save)
    : m_runner(runner), m_runtime(runtime), m_herd(herd), m_composer(composer),
      m_configuration(configuration), m_save(std::move(save))
{
}

QMap<QString, QString> StaticSiteBuilder::environment(const std::optional<QString>& publicBaseURL)
{
    QMap<QString, QString> variables{{s("ASSET_URL"), s("/")}, {s("APP_ENV"), s("production")}};
    if (publicBaseURL && !publicBaseURL->trimmed().isEmpty())
        variables.insert(s("APP_URL"), StaticSiteSupport::preferredPublicURL(*publicBaseURL));
    return variables;
}

bool StaticSiteBuilder::hasBuildScript(const QString& siteFolder)
{
    QFile file(QDir(siteFolder).filePath(s("package.json")));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    const auto parsed =
        nlohmann::json::parse(text.constData(), text.constData() + text.size(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object())
        return false;
    const auto scripts = parsed.find("scripts");
    return scripts != parsed.end() && scripts->is_object() && scripts->contains("build");
}

QString StaticSiteBuilder::phpFor(const Site& site) const
{
    const auto php = m_runtime.resolvePHP(site, m_herd);
    if (!php)
        throw RuntimeError::phpMissing();
    return php->path;
}

QCoro::Task<QString> StaticSiteBuilder::outputDirectory(SitePtr site, std::optional<QString> publicBaseURL)
{
    const QString php = phpFor(*site);
    const QMap<QString, QString> variables = environment(publicBaseURL);
    co_return co_await StaticSiteSupport::outputDirectory(m_configuration, site->path(), php, variables);
}

QCoro::Task<> StaticSiteBuilder::buildFrontend(SitePtr site, QMap<QString, QString> variables,
                                               LineCallback onOutput, CancellationToken cancel)
{
    const std::optional<NodeRuntime::Toolchain> node = NodeRuntime(m_runtime.roots()).resolve();
    if (!node)
        throw StaticSiteBuilderError::nodeMissing();
    onOutput(s("Using Node at ") + node->node);
    const QString php = phpFor(*site);
    const QStringList phpFolder{QFileInfo(php).absolutePath()};
    const QStringList path = NpmCommands::pathFor(*node, phpFolder);

    QList<ProcessRequest> requests;
    requests.append(NpmCommands::install(site->path(), *node, path));
    requests.append(NpmCommands::runScript(site->path(), *node, path, s("build")));
    QStringList lines;
    lines << s("Installing npm dependencies…") << s("Building frontend assets…");
    for (qsizetype i = 0; i < requests.size(); ++i) {
        onOutput(lines.at(i));
        LoggedOperationRequest request;
        request.process = requests.at(i);
        request.process.environment.insert(s("npm_config_yes"), s("true"));
        for (auto it = variables.cbegin(); it != variables.cend(); ++it)
            request.process.environment.insert(it.key(), it.value());
        request.command = s("npm ") + requests.at(i).arguments.join(QLatin1Char(' '));
        request.kind = OperationKind::shell;
        request.lines = forward(onOutput);
        request.token = cancel;
        const LoggedOperationResult outcome =
            co_await runLoggedOperation(m_runner, site, std::move(request), m_save);
        if (outcome.result.exitCode != 0 || outcome.result.endedBySignal)
            throw StaticSiteBuilderError::commandFailed(outcome.result.exitCode, outcome.redactedOutput);
    }
}

QCoro::Task<> StaticSiteBuilder::runKeffin(SitePtr site, QStringList arguments,
                                           QMap<QString, QString> variables, LineCallback onOutput,
                                           CancellationToken cancel)
{
    try {
        co_await m_composer.keffin(site, arguments, variables, forward(onOutput), cancel);
    } catch (const ComposerServiceError& error) {
        if (!error.exitCode())
            throw;
        throw StaticSiteBuilderError::commandFailed(*error.exitCode(), error.printed());
    }
}

QCoro::Task<std::shared_ptr<StaticSiteSupport::OutputRewrite>>
StaticSiteBuilder::startRewrite(SitePtr site, std::optional<QString> publicBaseURL,
                                std::shared_ptr<bool> generating)
{
    QString output = co_await outputDirectory(site, publicBaseURL);
    co_return std::make_shared<StaticSiteSupport::OutputRewrite>(std::move(output), site->path(),
                                                                 *generating);
}

QCoro::Task<StaticBuild> StaticSiteBuilder::generate(SitePtr site, std::optional<QString> publicBaseURL,
                                                     LineCallback onOutput, CancellationToken cancel)
{
    if (!onOutput)
        onOutput = [](const QString&) {};
    if (StaticSiteSupport::ensureAssetURL(site->path()))
        onOutput(s("Set ASSET_URL=/ in .env for root-relative Vite assets"));

    const QMap<QString, QString> variables = environment(publicBaseURL);
    if (variables.contains(s("APP_URL")))
        onOutput(QStringLiteral("Using APP_URL=%1 for this generate (local .env unchanged)")
                     .arg(variables.value(s("APP_URL"))));
    else
        onOutput(s("Generating with ASSET_URL=/ (no public APP_URL yet)"));

    if (hasBuildScript(site->path()))
        co_await buildFrontend(site, variables, onOutput, cancel);
    cancel.throwIfCancelled();

    // The output folder comes from the site's configuration, which warming and generating leave
    // alone: it is read while the warm-up runs (a PHP boot beside another, which costs it next to
    // nothing), so that the rewrite can follow the generator from its first page.
    const auto generating = std::make_shared<bool>(true);
    QCoro::Task<std::shared_ptr<StaticSiteSupport::OutputRewrite>> resolving =
        startRewrite(site, publicBaseURL, generating);
    std::exception_ptr failure;
    try {
        onOutput(s("Warming Tarnel…"));
        const QStringList warm{s("tarnel:warm"), s("-n"), s("-q")};
        co_await runKeffin(site, warm, variables, onOutput, cancel);
        cancel.throwIfCancelled();

        onOutput(s("Generating static site…"));
        const QStringList generation{s("ssg:generate")};
        co_await runKeffin(site, generation, variables, onOutput, cancel);
        cancel.throwIfCancelled();
    } catch (...) {
        failure = std::current_exception();
    }
    *generating = false;
    StaticBuild build;
    std::shared_ptr<StaticSiteSupport::OutputRewrite> rewrite;
    try {
        rewrite = co_await resolving;
        build.output = rewrite->outputFolder();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
    cancel.throwIfCancelled();
    const QDir folder(build.output);
    if (!folder.exists() || folder.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        throw StaticSiteBuilderError::outputMissing(build.output);

    QFuture<StaticSiteSupport::RewriteSummary> work =
        QtConcurrent::run([rewrite] { return rewrite->finish(); });
    const StaticSiteSupport::RewriteSummary summary = co_await work;
    build.rewritten = summary.replacements;
    build.files = summary.files;
    if (build.rewritten > 0)
        onOutput(StaticSiteSupport::rewroteLine(build.rewritten));
    onOutput(s("Static site ready at ") + build.output);
    build.builtAt = QDateTime::currentDateTimeUtc();
    site->setLastStaticBuildAt(build.builtAt);
    if (m_save)
        m_save();
    co_return build;
}

} // namespace halvik
