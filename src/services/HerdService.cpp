#include "HerdService.h"

#include "DotEnvFile.h"
#include "EngineFiles.h"
#include "PHPDiscovery.h"

#include "models/Site.h"

#include <QFileInfo>

namespace halvik {

namespace {

bool isLoopbackHost(const QString& host)
{
    return host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1");
}

QString lastComponent(const QString& path)
{
    return QFileInfo(EngineFiles::standardized(path)).fileName();
}

} // namespace

HerdService::HerdService(HerdRoots roots, QObject* parent) : QObject(parent), m_roots(std::move(roots)) {}

void HerdService::refresh()
{
    // A Valet left next to Herd is remembered whichever engine wins.
    const QString valetConfig = m_roots.valetConfig();
    m_valetConfigPath = QFileInfo(valetConfig).isDir() ? std::optional(valetConfig) : std::nullopt;
    m_valetCLIPath = PHPDiscovery::firstExecutable(valetCandidates());

    if (!detectHerd() && !detectValet())
        clearEngine();

    m_parkedDirectories.clear();
    if (m_engine) {
        m_parkedDirectories = EngineFiles::parkedPaths(configFolder());
        if (m_parkedPath)
            m_parkedDirectories << *m_parkedPath;
    }

    // A requested isolation is forgotten once the engine's own files record one.
    for (auto it = m_pendingIsolate.begin(); it != m_pendingIsolate.end();) {
        if (EngineFiles::isolatedVersion(configFolder(), it.key() + QLatin1Char('.') + tld()))
            it = m_pendingIsolate.erase(it);
        else
            ++it;
    }
    Q_EMIT changed();
}

void HerdService::clearEngine()
{
    m_engine.reset();
    m_isInstalled = false;
    m_appPath.reset();
    m_supportPath.reset();
    m_parkedPath.reset();
    m_cliPath.reset();
    m_composerPath.reset();
    m_phpBinaries.clear();
    m_globalPHPPath.reset();
}

bool HerdService::detectHerd()
{
    const QString bundle = m_roots.herdBundle();
    if (!QFileInfo::exists(bundle))
        return false;
    clearEngine();
    m_engine = LocalDevEngine::herd;
    m_isInstalled = true;
    m_appPath = bundle;
    const QString support = m_roots.herdSupport();
    if (QFileInfo(support).isDir())
        m_supportPath = support;
    m_parkedPath = m_roots.home + QStringLiteral("/Herd");
    const QString bin = support + QStringLiteral("/bin/");
    m_cliPath = PHPDiscovery::firstExecutable({bin + QStringLiteral("herd")});
    m_composerPath = PHPDiscovery::firstExecutable({bin + QStringLiteral("composer")});
    m_globalPHPPath = PHPDiscovery::firstExecutable({bin + QStringLiteral("php")});
    m_phpBinaries = PHPDiscovery::herdBinaries(bin);
    return true;
}

QStringList HerdService::valetCandidates() const
{
    QStringList candidates;
    for (const QString& folder : m_roots.composerVendorBins() + m_roots.homebrewBins())
        candidates << folder + QStringLiteral("/valet");
    return candidates;
}

bool HerdService::detectValet()
{
    const auto cli = PHPDiscovery::firstExecutable(valetCandidates());
    if (!cli && !QFileInfo::exists(m_roots.valetConfig() + QStringLiteral("/config.json")))
        return false;
    clearEngine();
    m_engine = LocalDevEngine::valet;
    m_isInstalled = true;
    m_supportPath = m_roots.valetConfig();
    m_cliPath = cli;

    // Homebrew's installations first; a Linux package manager's versioned PHPs fill the gaps.
    m_phpBinaries = PHPDiscovery::homebrewInstallations(m_roots.homebrewPrefixes);
    for (const HerdPHP& php : PHPDiscovery::versionedExecutables(m_roots.systemBinFolders))
        if (std::none_of(m_phpBinaries.begin(), m_phpBinaries.end(),
                         [&](const HerdPHP& known) { return known.version == php.version; }))
            m_phpBinaries << php;
    PHPDiscovery::sortByVersion(m_phpBinaries);

    QStringList php, composer;
    for (const QString& folder : m_roots.homebrewBins()) {
        php << folder + QStringLiteral("/php");
        composer << folder + QStringLiteral("/composer");
    }
    for (const QString& folder : m_roots.composerVendorBins())
        composer << folder + QStringLiteral("/composer");
    for (const QString& folder : m_roots.systemBinFolders) {
        php << folder + QStringLiteral("/php");
        composer << folder + QStringLiteral("/composer");
    }
    m_globalPHPPath = PHPDiscovery::firstExecutable(php);
    m_composerPath = PHPDiscovery::firstExecutable(composer);
    const QString sites = m_roots.home + QStringLiteral("/Sites");
    if (QFileInfo(sites).isDir())
        m_parkedPath = sites;
    return true;
}

void HerdService::setGlobalPHPVersion(std::optional<QString> version)
{
    if (version == m_globalPHPVersion)
        return;
    m_globalPHPVersion = std::move(version);
    Q_EMIT changed();
}

QString HerdService::configFolder() const
{
    if (m_engine == LocalDevEngine::herd)
        return m_supportPath.value_or(m_roots.herdSupport()) + QStringLiteral("/config/valet");
    return m_roots.valetConfig();
}

QString HerdService::tld() const
{
    return EngineFiles::tld(configFolder());
}

QString HerdService::slug(const QString& name)
{
    QString out;
    for (QChar c : name.toLower()) {
        if (c == u' ' || c == u'_')
            c = u'-';
        if (c.isLetterOrNumber() || c == u'-')
            out += c;
    }
    return out;
}

QString HerdService::domain(const QString& name) const
{
    return slug(name) + QLatin1Char('.') + tld();
}

QString HerdService::domain(const Site& site) const
{
    if (const auto url = envAppURL(site.path()); url && !isLoopbackHost(url->host()))
        return url->host();
    return domain(linkedName(site.path()).value_or(lastComponent(site.path())));
}

std::optional<QString> HerdService::linkedName(const QString& path) const
{
    return EngineFiles::linkedName(configFolder(), path);
}

bool HerdService::isSecured(const QString& name) const
{
    return QFileInfo::exists(configFolder() + QStringLiteral("/Certificates/") + domain(name) +
                             QStringLiteral(".crt"));
}

bool HerdService::isParked(const QString& path) const
{
    const QString parent = QFileInfo(EngineFiles::standardized(path)).path();
    return std::any_of(m_parkedDirectories.begin(), m_parkedDirectories.end(),
                       [&](const QString& parked) { return EngineFiles::standardized(parked) == parent; });
}

std::optional<QUrl> HerdService::envAppURL(const QString& folder)
{
    std::optional<QString> value;
    try {
        value = DotEnvFile::value(QStringLiteral("APP_URL"),
                                  DotEnvFile::entries(DotEnvFile::load(folder + QStringLiteral("/.env"))));
    } catch (const HalvikError&) {
        return std::nullopt; // no readable .env: no URL of its own
    }
    if (!value)
        return std::nullopt;
    const QUrl url(value->trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<QUrl> HerdService::siteURL(const Site& site, std::optional<bool> secure) const
{
    if (!m_engine)
        return std::nullopt;
    return siteURL(site, envAppURL(site.path()), secure);
}

std::optional<QUrl> HerdService::siteURL(const Site& site, const std::optional<QUrl>& envURL,
                                         std::optional<bool> secure) const
{
    if (!m_engine)
        return std::nullopt;
    // A certificate is looked up under the host as it stands: a host is already a domain,
    // and slugging it again would drop its dots.
    const auto hasCertificate = [this](const QString& host) {
        return QFileInfo::exists(configFolder() + QStringLiteral("/Certificates/") + host +
                                 QStringLiteral(".crt"));
    };
    if (auto url = envURL; url && !isLoopbackHost(url->host())) {
        if (secure)
            url->setScheme(*secure ? QStringLiteral("https") : QStringLiteral("http"));
        else if (hasCertificate(url->host()))
            url->setScheme(QStringLiteral("https"));
        return url;
    }
    const QString host = domain(site);
    const bool https = secure.value_or(hasCertificate(host));
    return QUrl((https ? QStringLiteral("https://") : QStringLiteral("http://")) + host);
}

QStringList HerdService::nginxErrorTail(int lines) const
{
    if (!m_supportPath)
        return {};
    return EngineFiles::nginxErrorTail(*m_supportPath + QStringLiteral("/Log"), lines);
}

} // namespace halvik
