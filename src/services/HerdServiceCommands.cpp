// HerdService: driving the engine's tool and choosing a site's PHP.
#include "HerdError.h"
#include "HerdService.h"

#include "EngineFiles.h"
#include "PHPDiscovery.h"

#include "models/Site.h"

#include <QFileInfo>

namespace halvik {

QStringList HerdService::commandPath() const
{
    QStringList path;
    if (m_cliPath)
        path << QFileInfo(*m_cliPath).path();
    return path + m_roots.composerVendorBins() + m_roots.homebrewBins();
}

QCoro::Task<> HerdService::runTool(QString sitePath, QStringList arguments)
{
    if (!m_cliPath)
        throw HerdError::cliMissing(title(m_engine.value_or(LocalDevEngine::herd)));
    ProcessRequest request;
    request.executable = *m_cliPath;
    request.arguments = std::move(arguments);
    request.workingDirectory = sitePath;
    request.extraPath = commandPath();
    const ProcessResult result = co_await m_runner.run(std::move(request));
    if (result.exitCode != 0)
        throw HerdError::commandFailed(result.combined());
}

// The argument lists are built outside the coroutines: GCC 12 cannot keep a braced list of
// literals alive across co_await.
QCoro::Task<> HerdService::link(QString sitePath, QString name)
{
    return runTool(sitePath, QStringList{QStringLiteral("link"), slug(name)});
}

QCoro::Task<> HerdService::secure(QString name, QString sitePath)
{
    return runTool(sitePath, QStringList{QStringLiteral("secure"), slug(name)});
}

QString HerdService::isolateArgument(const QString& version) const
{
    const QString normalized = PHPDiscovery::normalizedVersion(version);
    return m_engine == LocalDevEngine::valet ? QStringLiteral("php@") + normalized : normalized;
}

QCoro::Task<> HerdService::isolate(QString sitePath, QString version)
{
    QStringList arguments{QStringLiteral("isolate")};
    arguments << isolateArgument(version);
    co_await runTool(sitePath, arguments);
    // The engine writes its nginx file in its own time; until then the request stands.
    const QString name =
        linkedName(sitePath).value_or(QFileInfo(EngineFiles::standardized(sitePath)).fileName());
    m_pendingIsolate.insert(slug(name), PHPDiscovery::normalizedVersion(version));
    Q_EMIT changed();
}

QCoro::Task<std::optional<QString>> HerdService::phpVersion(QString path)
{
    ProcessRequest request;
    request.executable = path;
    request.arguments << QStringLiteral("-r") << QStringLiteral("echo PHP_VERSION;");
    try {
        const ProcessResult result = co_await m_runner.run(std::move(request));
        const QString version = result.stdout.text().trimmed();
        if (result.exitCode != 0 || version.isEmpty())
            co_return std::nullopt;
        co_return version;
    } catch (const ProcessRunnerError& error) {
        if (error.isCancelled())
            throw;
        co_return std::nullopt;
    }
}

std::optional<QString> HerdService::isolatedExecutable(const QString& version) const
{
    for (const HerdPHP& php : m_phpBinaries)
        if (PHPDiscovery::normalizedVersion(php.version) == version)
            return php.path;
    QString digits;
    for (QChar c : version)
        if (c.isDigit())
            digits += c;
    QStringList candidates{m_supportPath.value_or(m_roots.herdSupport()) + QStringLiteral("/bin/php") +
                           digits};
    for (const QString& prefix : m_roots.homebrewPrefixes)
        candidates << prefix + QStringLiteral("/opt/php@") + version + QStringLiteral("/bin/php");
    return PHPDiscovery::firstExecutable(candidates);
}

std::optional<ResolvedPHP> HerdService::phpForSite(const Site& site) const
{
    const QString name =
        linkedName(site.path()).value_or(QFileInfo(EngineFiles::standardized(site.path())).fileName());
    return resolvePHP(name, domain(site));
}

std::optional<ResolvedPHP> HerdService::phpForSite(const QString& name) const
{
    return resolvePHP(name, domain(name));
}

std::optional<ResolvedPHP> HerdService::resolvePHP(const QString& name, const QString& domain) const
{
    auto requested = m_pendingIsolate.value(slug(name));
    if (requested.isEmpty())
        requested = EngineFiles::isolatedVersion(configFolder(), domain).value_or(QString());
    if (!requested.isEmpty()) {
        const QString version = PHPDiscovery::normalizedVersion(requested);
        if (const auto path = isolatedExecutable(version))
            return ResolvedPHP{*path, version, ResolvedPHPSource::isolated};
    }
    if (m_globalPHPPath)
        return ResolvedPHP{*m_globalPHPPath, m_globalPHPVersion.value_or(QString()),
                           ResolvedPHPSource::herdGlobal};
    return std::nullopt;
}

} // namespace halvik
