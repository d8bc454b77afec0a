#include "SharingPreparation.h"

#include "SharingError.h"

#include "services/OperationLogSink.h"
#include "services/ProcessRunner.h"
#include "services/ReachabilityProbe.h"
#include "services/frontend/FrontendProject.h"
#include "services/frontend/NpmCommands.h"
#include "services/frontend/ViteDevServer.h"
#include "services/runtime/NodeRuntime.h"
#include "services/runtime/RuntimeManager.h"

#include <QObject>

namespace halvik {

namespace {

bool isLocalAddress(const QUrl& url)
{
    const QString host = url.host().toLower();
    return host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") ||
           host == QLatin1String("::1") || host == QLatin1String("0.0.0.0") ||
           host.startsWith(QLatin1String("127.")) || host.endsWith(QLatin1String(".localhost"));
}

} // namespace

SharingPreparation::SharingPreparation(ProcessRunner& runner, RuntimeManager& runtime,
                                       const HerdService* herd, ViteDevServer& devServer)
    : m_runner(runner), m_runtime(runtime), m_herd(herd), m_devServer(devServer)
{
}

QString SharingPreparation::stillStarting()
{
    return QStringLiteral("The frontend preview is still starting. Wait for it to finish, then retry.");
}
QString SharingPreparation::otherAppRunning()
{
    return QStringLiteral("Another app is running this site’s frontend preview. Stop that preview in its "
                          "app, then retry sharing.");
}
QString SharingPreparation::otherAppConfigured()
{
    return QStringLiteral(
        "Another app has configured this site’s frontend preview. Stop that preview in its app, "
        "then retry sharing.");
}
QString SharingPreparation::previewStillRunning()
{
    return QStringLiteral("A frontend preview is still running. Stop it in its app, then retry sharing.");
}
QString SharingPreparation::previewChanged()
{
    return QStringLiteral(
        "The frontend preview changed while preparing. Stop its preview and retry sharing.");
}
QString SharingPreparation::unsupportedBuild()
{
    return QStringLiteral("This site uses a frontend preview but has no supported asset build. Its build "
                          "configuration needs to be fixed before sharing.");
}
QString SharingPreparation::noProductionBuild()
{
    return QStringLiteral("This site has a frontend preview but no production build configured. Add a build "
                          "script to the project before sharing.");
}
QString SharingPreparation::buildToolsFailed()
{
    return QStringLiteral("Halvik couldn’t prepare the asset build tools. Retry to try again.");
}
QString SharingPreparation::assetsFailed()
{
    return QStringLiteral(
        "The site’s assets couldn’t be prepared. See Details for the build error, then retry "
        "after it’s resolved.");
}

QCoro::Task<> SharingPreparation::guardAgainstPreview(SitePtr site)
{
    const ViteDevSession own = m_devServer.session(site->id());
    if (own.phase == ViteDevServerPhase::installingDependencies || own.phase == ViteDevServerPhase::starting)
        throw SharingError::preparationFailed(stillStarting());
    const bool stoppedOwn = own.phase == ViteDevServerPhase::running;
    if (stoppedOwn)
        m_devServer.stop(site->id());
    const std::optional<QUrl> hot = FrontendProject::readHotFileURL(site->path());
    if (!hot || !isLocalAddress(*hot))
        co_return;
    if (stoppedOwn)
        throw SharingError::preparationFailed(previewStillRunning());
    const Reachability answer = co_await ReachabilityProbe::probe(*hot);
    throw SharingError::preparationFailed(answer.isServing() ? otherAppRunning() : otherAppConfigured());
}

QCoro::Task<> SharingPreparation::prepare(SitePtr site, Lines status, Lines log, CancellationToken token)
{
    co_await guardAgainstPreview(site);
    token.throwIfCancelled();

    const std::optional<FrontendProject::Info> info = FrontendProject::inspect(site->path());
    if (!info)
        co_return;
    if (info->devScriptName && info->bundler == FrontendProject::BundlerKind::unknown)
        throw SharingError::preparationFailed(unsupportedBuild());
    if (info->devScriptName && !info->hasBuildScript)
        throw SharingError::preparationFailed(noProductionBuild());
    if (!info->hasBuildScript)
        co_return;

    std::optional<NodeRuntime::Toolchain> node = NodeRuntime(m_runtime.roots()).resolve();
    if (!node) {
        status(QStringLiteral("Preparing build tools…"));
        try {
            co_await m_runtime.installManagedNode();
        } catch (const CancelledError&) {
            throw;
        } catch (const std::exception&) {
        }
        token.throwIfCancelled();
        node = NodeRuntime(m_runtime.roots()).resolve();
        if (!node)
            throw SharingError::preparationFailed(buildToolsFailed());
    }

    const auto php = m_runtime.resolvePHP(*site, m_herd);
    const QStringList phpEntries =
        php ? m_runtime.processPathEntries(php->path, m_herd) : QStringList{QStringLiteral("/usr/bin")};
    const QStringList path = NpmCommands::pathFor(*node, phpEntries);

    if (!info->nodeModulesPresent) {
        status(QStringLiteral("Preparing asset dependencies…"));
        ProcessRequest install = NpmCommands::install(site->path(), *node, path);
        log(QStringLiteral("$ npm ") + install.arguments.join(QLatin1Char(' ')));
        if (co_await run(std::move(install), log, token) != 0)
            throw SharingError::preparationFailed(assetsFailed());
    }

    status(QStringLiteral("Building site assets…"));
    const QMap<QString, QString> assetURL{{QStringLiteral("ASSET_URL"), QStringLiteral("/")}};
    ProcessRequest build =
        NpmCommands::runScript(site->path(), *node, path, *info->buildScriptName, assetURL);
    log(QStringLiteral("$ npm run ") + *info->buildScriptName);
    if (co_await run(std::move(build), log, token) != 0)
        throw SharingError::preparationFailed(assetsFailed());

    // A preview that appeared while building would send the shared pages to it.
    if (FrontendProject::readHotFileURL(site->path()) || m_devServer.isActive(site->id()))
        throw SharingError::preparationFailed(previewChanged());
}

QCoro::Task<int> SharingPreparation::run(ProcessRequest request, Lines log, CancellationToken token)
{
    QObject context;
    auto sink = OperationLogSink::create(&context, [log](const QString& batch, bool) { log(batch); });
    const ProcessRunner::OutputCallback lines = [sink](const ProcessOutput& line) {
        sink->append(FrontendProject::withoutTerminalCodes(line.line));
    };
    try {
        const ProcessResult result = co_await m_runner.run(std::move(request), lines, token);
        sink->flush();
        co_return result.exitCode;
    } catch (const ProcessRunnerError& error) {
        sink->flush();
        if (error.isCancelled())
            throw CancelledError();
        log(error.description());
        co_return -1;
    }
}

} // namespace halvik
