#include "RuntimeManager.h"

#include "RuntimeError.h"
#include "RuntimeFiles.h"

#include "models/Site.h"
#include "services/HerdService.h"
#include "services/ProcessRunner.h"

#include "platform/RuntimePlatform.h"

#include "async/FireAndForget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

namespace halvik {

namespace {

void makeFolder(const QString& path)
{
    if (!QDir().mkpath(path))
        throw std::runtime_error(QStringLiteral("Couldn’t create the folder %1.").arg(path).toStdString());
}

void writeIniAndWrapper(const QString& folder)
{
    RuntimeFiles::writeAtomically(folder + QStringLiteral("/php.ini"), RuntimeFiles::managedIni());
    if (QFileInfo::exists(folder + QStringLiteral("/php-cli")))
        RuntimeFiles::writeAtomically(folder + QStringLiteral("/php"), RuntimeFiles::phpWrapper(folder),
                                      0755);
}

template <typename T> bool assignIfChanged(T& field, T value)
{
    if (field == value)
        return false;
    field = std::move(value);
    return true;
}

} // namespace

RuntimeManager::RuntimeManager(ProcessRunner& runner, RuntimeRoots roots, QObject* parent)
    : QObject(parent), m_runner(runner), m_roots(std::move(roots))
{
}

RuntimeManager::~RuntimeManager()
{
    // Whatever is still downloading or running ends now and finds this object gone.
    m_life.end();
    m_lookupCancel.cancel();
    m_phpCancel.cancel();
    m_nodeCancel.cancel();
}

void RuntimeManager::seedIfNeeded()
{
    const QString bin = m_roots.bin();
    makeFolder(bin);
    makeFolder(m_roots.support + QStringLiteral("/composer"));
    makeFolder(m_roots.support + QStringLiteral("/cache"));
    seedPHP();

    const QString phar = bin + QStringLiteral("/composer.phar");
    if (!QFileInfo::exists(phar))
        if (const auto resource = resourcePath(QStringLiteral("composer.phar")))
            if (!QFile::copy(*resource, phar))
                throw std::runtime_error(
                    QStringLiteral("Couldn’t copy Composer to %1.").arg(phar).toStdString());
    if (QFileInfo::exists(phar))
        RuntimeFiles::writeAtomically(bin + QStringLiteral("/composer"), RuntimeFiles::composerWrapper(phar),
                                      0755);

    RuntimeSnapshot next = m_snapshot;
    next.seeded = QFileInfo::exists(bin + QStringLiteral("/composer"));
    next.managedPHPPath = std::nullopt;
    if (RuntimeFiles::isExecutable(bin + QStringLiteral("/php")))
        next.managedPHPPath = bin + QStringLiteral("/php");
    next.composerPath = std::nullopt;
    if (QFileInfo::exists(phar))
        next.composerPath = phar;
    next.extraPHP = installedPHP();
    setSnapshot(std::move(next));
}

void RuntimeManager::seedPHP()
{
    const QString bin = m_roots.bin();
    const QString cli = bin + QStringLiteral("/php-cli");
    const QString php = bin + QStringLiteral("/php");
    if (QFileInfo::exists(cli)) {
        RuntimeFiles::makeExecutable(cli);
    } else if (QFileInfo::exists(php) && !RuntimeFiles::isScript(php)) {
        // A real binary where an older layout kept it: it becomes the one the wrapper runs.
        if (!QFile::rename(php, cli))
            throw std::runtime_error(QStringLiteral("Couldn’t move %1 to %2.").arg(php, cli).toStdString());
    } else if (const auto resource = resourcePath(QStringLiteral("php"))) {
        QFile::remove(cli);
        if (!QFile::copy(*resource, cli))
            throw std::runtime_error(QStringLiteral("Couldn’t copy PHP to %1.").arg(cli).toStdString());
        RuntimeFiles::makeExecutable(cli);
    }
    writeIniAndWrapper(bin);
}

QCoro::Task<> RuntimeManager::refreshVersions()
{
    const LifeToken alive = m_life.token();
    try {
        seedIfNeeded();
        setLastError(std::nullopt);
    } catch (const std::exception& error) {
        setLastError(QString::fromUtf8(error.what()));
    }

    RuntimeSnapshot next = m_snapshot;
    const QString managedPHP = m_roots.bin() + QStringLiteral("/php");
    next.managedPHPVersion = std::nullopt;
    if (RuntimeFiles::isExecutable(managedPHP)) {
        const QStringList arguments{QStringLiteral("-r"), QStringLiteral("echo PHP_VERSION;")};
        const auto version = co_await runForVersion(managedPHP, arguments);
        if (!alive)
            co_return;
        next.managedPHPVersion = version;
    }

    const QString phar = m_roots.bin() + QStringLiteral("/composer.phar");
    next.composerPath =
        QFileInfo::exists(phar) ? std::optional<QString>(phar) : which(QStringLiteral("composer"));
    next.composerVersion = std::nullopt;
    if (next.composerPath) {
        std::optional<QString> output;
        if (next.composerPath->endsWith(QLatin1String(".phar"))) {
            const std::optional<QString> php = RuntimeFiles::isExecutable(managedPHP)
                                                   ? std::optional<QString>(managedPHP)
                                                   : which(QStringLiteral("php"));
            const QStringList arguments{*next.composerPath, QStringLiteral("--version"),
                                        QStringLiteral("--no-ansi")};
            if (php)
                output = co_await runForVersion(*php, arguments);
        } else {
            const QStringList arguments{QStringLiteral("--version"), QStringLiteral("--no-ansi")};
            output = co_await runForVersion(*next.composerPath, arguments);
        }
        if (!alive)
            co_return;
        if (output)
            next.composerVersion = RuntimeFiles::composerVersionFrom(*output);
    }

    next.extraPHP = installedPHP();
    setSnapshot(std::move(next));
    // The network lookup never holds up the local picture; its answer lands when it comes.
    fireAndForget(this, refreshLatestComposerVersion());
}

QCoro::Task<> RuntimeManager::refreshLatestComposerVersion()
{
    const LifeToken alive = m_life.token();
    const std::optional<QString> latest = co_await latestComposerVersion();
    if (!alive)
        co_return;
    RuntimeSnapshot next = m_snapshot;
    next.latestComposerVersion = latest;
    setSnapshot(std::move(next));
}

QCoro::Task<std::optional<QString>> RuntimeManager::runForVersion(QString program, QStringList arguments)
{
    ProcessRequest request;
    request.executable = std::move(program);
    request.arguments = std::move(arguments);
    request.environment = composerEnvironment();
    try {
        const ProcessResult result = co_await m_runner.run(std::move(request));
        const QString text = result.stdout.text().trimmed();
        if (result.exitCode != 0 || text.isEmpty())
            co_return std::nullopt;
        co_return text;
    } catch (const std::exception&) {
        co_return std::nullopt;
    }
}

QCoro::Task<std::optional<QString>> RuntimeManager::latestComposerVersion()
{
    QUrl url = m_roots.composerVersions;
    url.setPath(url.path().chopped(url.path().endsWith(QLatin1Char('/')) ? 1 : 0) +
                QStringLiteral("/versions"));
    try {
        const HttpFetcher::Reply reply = co_await m_lookup.get(url, m_lookupCancel.token());
        if (!reply.ok())
            co_return std::nullopt;
        co_return RuntimeFiles::latestComposerFrom(reply.body);
    } catch (const std::exception&) {
        co_return std::nullopt;
    }
}

QList<ManagedPHP> RuntimeManager::installedPHP() const
{
    QStringList names = QDir(m_roots.phpLines()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(names.begin(), names.end(), std::greater<>());
    QList<ManagedPHP> list;
    QSet<QString> seen;
    for (const QString& name : names) {
        const QString line = RuntimeFiles::normalizedPHPLine(name);
        if (seen.contains(line))
            continue;
        seen.insert(line);
        if (auto php = extraPHP(line))
            list << *php;
    }
    const bool hasSeededLine = std::any_of(list.begin(), list.end(), [](const ManagedPHP& php) {
        return php.line == QLatin1String(RuntimeFiles::seededPHPLine);
    });
    const QString seeded = m_roots.bin() + QStringLiteral("/php");
    if (!hasSeededLine && RuntimeFiles::isExecutable(seeded))
        list << ManagedPHP{QString::fromLatin1(RuntimeFiles::seededPHPLine), m_snapshot.managedPHPVersion,
                           seeded, true};
    std::sort(list.begin(), list.end(),
              [](const ManagedPHP& a, const ManagedPHP& b) { return a.line > b.line; });
    return list;
}

std::optional<ManagedPHP> RuntimeManager::extraPHP(const QString& line) const
{
    const QString normalized = RuntimeFiles::normalizedPHPLine(line);
    const QString folder = m_roots.phpLines() + QLatin1Char('/') + normalized;
    if (normalized.isEmpty() || !RuntimeFiles::isExecutable(folder + QStringLiteral("/php")))
        return std::nullopt;
    return ManagedPHP{normalized, RuntimeFiles::readTrimmed(folder + QStringLiteral("/VERSION")),
                      folder + QStringLiteral("/php"), false};
}

void RuntimeManager::removeManagedPHP(const QString& line)
{
    const QString normalized = RuntimeFiles::normalizedPHPLine(line);
    // Only a line Halvik offers names a folder of its own: anything else ("..", "", a path)
    // could reach outside it.
    if (!RuntimeFiles::offeredPHPLines().contains(normalized))
        throw RuntimeError::phpInstallFailed(
            QStringLiteral("Halvik doesn’t offer PHP %1.").arg(line.trimmed()));
    const QString folder = m_roots.phpLines() + QLatin1Char('/') + normalized;
    if (QFileInfo::exists(folder) && !QDir(folder).removeRecursively())
        throw RuntimeError::phpInstallFailed(QStringLiteral("Couldn’t remove PHP %1.").arg(normalized));
    refreshExtraPHP();
    Q_EMIT installationsChanged();
}

void RuntimeManager::refreshExtraPHP()
{
    RuntimeSnapshot next = m_snapshot;
    next.extraPHP = installedPHP();
    setSnapshot(std::move(next));
}

std::optional<ResolvedPHP> RuntimeManager::resolvePHP(const Site& site, const HerdService* herd) const
{
    const EngineLookup fromEngine = [&] {
        return herd && herd->engine() ? herd->phpForSite(site) : std::nullopt;
    };
    return resolve(site.phpSource(), fromEngine, site.managedPHPVersion());
}

std::optional<ResolvedPHP> RuntimeManager::resolvePHP(const QString& sourceRaw, const QString& siteName,
                                                      const HerdService* herd,
                                                      const std::optional<QString>& managedLine) const
{
    const EngineLookup fromEngine = [&] {
        return herd && herd->engine() ? herd->phpForSite(siteName) : std::nullopt;
    };
    return resolve(fromRaw<PHPSource>(sourceRaw), fromEngine, managedLine);
}

std::optional<ResolvedPHP> RuntimeManager::resolve(std::optional<PHPSource> source,
                                                   const EngineLookup& fromEngine,
                                                   const std::optional<QString>& managedLine) const
{
    if (source == PHPSource::managed)
        return resolveManagedPHP(managedLine);
    if (source == PHPSource::herd)
        return fromEngine();
    // Automatic, and any value this version does not know.
    if (auto php = fromEngine())
        return php;
    if (auto php = resolveManagedPHP(managedLine))
        return php;
    if (auto php = which(QStringLiteral("php")))
        return ResolvedPHP{*php, QString(), ResolvedPHPSource::system};
    return std::nullopt;
}

std::optional<ResolvedPHP> RuntimeManager::resolveManagedPHP(const std::optional<QString>& line) const
{
    if (line && !line->trimmed().isEmpty())
        if (const auto extra = extraPHP(*line))
            return ResolvedPHP{extra->path, extra->version.value_or(extra->line), ResolvedPHPSource::managed};
    const QString seeded = m_roots.bin() + QStringLiteral("/php");
    const QString path = m_snapshot.managedPHPPath.value_or(seeded);
    if (QFileInfo::exists(path))
        return ResolvedPHP{path, m_snapshot.managedPHPVersion.value_or(QString()),
                           ResolvedPHPSource::managed};
    return std::nullopt;
}

RuntimeManager::ComposerLaunch RuntimeManager::composerLaunch(const Site& site, const HerdService* herd) const
{
    const auto php = resolvePHP(site, herd);
    if (!php)
        throw RuntimeError::phpMissing();
    const QString phar = m_roots.bin() + QStringLiteral("/composer.phar");
    std::optional<QString> composer =
        QFileInfo::exists(phar) ? std::optional<QString>(phar) : which(QStringLiteral("composer"));
    if (!composer)
        throw RuntimeError::composerMissing();
    return {php->path, *composer, *php};
}

QStringList RuntimeManager::processPathEntries(const QString& php, const HerdService* herd) const
{
    QStringList entries;
    if (herd && herd->composerPath())
        entries << QFileInfo(*herd->composerPath()).absolutePath();
    entries << m_roots.bin();
    if (!php.isEmpty()) {
        const QString folder = QFileInfo(php).absolutePath();
        if (!entries.contains(folder))
            entries << folder;
    }
    for (const QString& folder : RuntimePlatform::standardPathTail())
        if (!entries.contains(folder))
            entries << folder;
    return entries;
}

QMap<QString, QString> RuntimeManager::composerEnvironment() const
{
    return {{QStringLiteral("COMPOSER_HOME"), m_roots.support + QStringLiteral("/composer")},
            {QStringLiteral("COMPOSER_CACHE_DIR"), m_roots.support + QStringLiteral("/cache")},
            {QStringLiteral("COMPOSER_NO_INTERACTION"), QStringLiteral("1")},
            {QStringLiteral("COMPOSER_DISABLE_XDEBUG_WARN"), QStringLiteral("1")}};
}

std::optional<QString> RuntimeManager::which(const QString& name) const
{
    for (const QString& folder : m_roots.fixedSearch)
        if (RuntimeFiles::isExecutable(folder + QLatin1Char('/') + name))
            return folder + QLatin1Char('/') + name;
    return std::nullopt;
}

std::optional<QString> RuntimeManager::resourcePath(const QString& name) const
{
    for (const QString& folder : m_roots.resourceFolders) {
        const QString path = folder + QStringLiteral("/runtime/") + name;
        if (QFileInfo(path).isFile())
            return path;
    }
    return std::nullopt;
}

void RuntimeManager::setSnapshot(RuntimeSnapshot snapshot)
{
    if (assignIfChanged(m_snapshot, std::move(snapshot)))
        Q_EMIT changed();
}

void RuntimeManager::setLastError(std::optional<QString> error)
{
    if (assignIfChanged(m_lastError, std::move(error)))
        Q_EMIT changed();
}

void RuntimeManager::setPHPInstall(bool installing, std::optional<QString> line,
                                   std::optional<QString> progress)
{
    bool changedAny = assignIfChanged(m_isInstallingPHP, installing);
    changedAny |= assignIfChanged(m_phpInstallLine, std::move(line));
    changedAny |= assignIfChanged(m_phpInstallProgress, std::move(progress));
    if (changedAny)
        Q_EMIT changed();
}

void RuntimeManager::setPHPProgress(std::optional<QString> progress)
{
    if (assignIfChanged(m_phpInstallProgress, std::move(progress)))
        Q_EMIT changed();
}

void RuntimeManager::setNodeInstall(bool installing, std::optional<QString> progress)
{
    bool changedAny = assignIfChanged(m_isInstallingNode, installing);
    changedAny |= assignIfChanged(m_nodeInstallProgress, std::move(progress));
    if (changedAny)
        Q_EMIT changed();
}

void RuntimeManager::setNodeProgress(std::optional<QString> progress)
{
    if (assignIfChanged(m_nodeInstallProgress, std::move(progress)))
        Q_EMIT changed();
}

} // namespace halvik
