#include "DevEnvironment.h"

#include "AppServices.h"

#include "platform/PortListening.h"
#include "services/HerdService.h"
#include "services/ProcessRunner.h"
#include "services/ReachabilityProbe.h"
#include "services/accounts/SourceControlService.h"
#include "services/runtime/RuntimeManager.h"

#include "async/FireAndForget.h"
#include "async/Sleep.h"

#include <QCollator>
#include <QCoroFuture>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>
#include <QtConcurrent/QtConcurrentRun>

namespace halvik {

namespace {

bool isLocalHost(const QString& host)
{
    return host == QLatin1String("localhost") || host.startsWith(QLatin1String("127.")) ||
           host == QLatin1String("::1");
}

QString orText(const std::optional<QString>& value, const char* fallback)
{
    return value.value_or(QString::fromUtf8(fallback));
}

} // namespace

QString PortListener::description() const
{
    QStringList parts;
    if (command)
        parts << *command;
    if (pid)
        parts << QStringLiteral("pid %1").arg(*pid);
    return parts.isEmpty() ? QStringLiteral("unknown process") : parts.join(QStringLiteral(", "));
}

std::optional<PortListener> PortListener::fromLsof(const QString& output)
{
    std::optional<PortListener> found;
    for (const QString& raw : output.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('p'))) {
            if (found)
                break; // the first process only
            found = PortListener{};
            bool ok = false;
            const qint64 pid = line.mid(1).toLongLong(&ok);
            if (ok)
                found->pid = pid;
        } else if (line.startsWith(QLatin1Char('c')) && found && !found->command) {
            found->command = line.mid(1);
        }
    }
    return found;
}

std::optional<PortListener> PortListener::fromSs(const QString& output)
{
    // LISTEN 0 511 0.0.0.0:80 0.0.0.0:* users:(("nginx",pid=812,fd=6),…)
    static const QRegularExpression user(QStringLiteral("\\(\\(\"([^\"]+)\",pid=(\\d+)"));
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (line.trimmed().isEmpty())
            continue;
        PortListener listener;
        const auto match = user.match(line);
        if (match.hasMatch()) {
            listener.command = match.captured(1);
            listener.pid = match.captured(2).toLongLong();
        }
        return listener;
    }
    return std::nullopt;
}

QString ServeMode::servedBy() const
{
    switch (kind) {
    case Kind::engine:
        return engine ? engineDisplayName(*engine) : QStringLiteral("Engine");
    case Kind::halvikServer:
        return QStringLiteral("Halvik server");
    case Kind::external:
        return QStringLiteral("External");
    case Kind::none:
        break;
    }
    return QStringLiteral("Not served");
}

DevEnvironment::DevEnvironment(AppServices& services, QObject* parent) : QObject(parent), m_services(services)
{
}

DevEnvironment::~DevEnvironment()
{
    m_probes.cancel();
}

void DevEnvironment::keepCurrent()
{
    if (m_keepsCurrent)
        return;
    m_keepsCurrent = true;
    connect(&m_services.localServer(), &LocalServer::changed, this,
            [this] { fireAndForget(this, refreshSiteMappings()); });
    // Installs and removals land in these folders, whichever process makes them.
    const RuntimeRoots& roots = m_services.runtime().roots();
    m_runtimeFolders = std::make_unique<QFileSystemWatcher>();
    for (const QString& folder : {roots.phpLines(), QFileInfo(roots.managedNode()).absolutePath()})
        if (QDir().mkpath(folder))
            m_runtimeFolders->addPath(folder);
    m_runtimeSettle.setSingleShot(true);
    m_runtimeSettle.setInterval(300);
    connect(m_runtimeFolders.get(), &QFileSystemWatcher::directoryChanged, &m_runtimeSettle,
            qOverload<>(&QTimer::start));
    connect(&m_services.runtime(), &RuntimeManager::installationsChanged, &m_runtimeSettle,
            qOverload<>(&QTimer::start));
    connect(&m_runtimeSettle, &QTimer::timeout, this, [this] { fireAndForget(this, refresh()); });
}

bool DevEnvironment::isExternalURL(const QUrl& url, const Site& site)
{
    const QString host = url.host();
    if (host.isEmpty() || url.port() < 0)
        return false;
    if (!isLocalHost(host))
        return !(host.endsWith(QLatin1String(".test")) || host.endsWith(QLatin1String(".localhost")));
    return site.localPort() != url.port();
}

ServeMode DevEnvironment::mode(const Site& site) const
{
    if (const auto server = m_services.localServer().running(site.id()))
        return ServeMode{ServeMode::Kind::halvikServer, std::nullopt, server, {}};
    if (m_services.herd().engine())
        return mode(site, std::nullopt);
    return mode(site, HerdService::envAppURL(site.path()));
}

ServeMode DevEnvironment::mode(const Site& site, const std::optional<QUrl>& envURL) const
{
    if (const auto server = m_services.localServer().running(site.id()))
        return ServeMode{ServeMode::Kind::halvikServer, std::nullopt, server, {}};
    const HerdService& herd = m_services.herd();
    if (herd.engine())
        return ServeMode{ServeMode::Kind::engine, herd.engine(), std::nullopt, {}};
    if (envURL && isExternalURL(*envURL, site))
        return ServeMode{ServeMode::Kind::external, std::nullopt, std::nullopt, *envURL};
    return {};
}

QCoro::Task<> DevEnvironment::refresh()
{
    if (m_isRefreshing) {
        m_refreshAgain = true; // what changed meanwhile is looked at once the pass ends
        co_return;
    }
    m_isRefreshing = true;
    Q_EMIT changed();
    const LifeToken alive = m_life.token();
    do {
        m_refreshAgain = false;
        co_await refreshOnce();
        if (!alive)
            co_return;
    } while (m_refreshAgain);
    m_isRefreshing = false;
    Q_EMIT changed();
}

QCoro::Task<> DevEnvironment::refreshOnce()
{
    const LifeToken alive = m_life.token();
    co_await m_services.refreshEngine();
    if (!alive)
        co_return;

    m_node = NodeRuntime(m_services.runtime().roots()).resolve();
    m_nodeVersion = std::nullopt;
    if (m_node) {
        const QStringList arguments{QStringLiteral("--version")};
        const std::optional<QString> version = co_await firstLine(m_node->node, arguments);
        if (!alive)
            co_return;
        m_nodeVersion = version;
    }
    // The same lookup the accounts use, so the picture and the sign-in agree on where it is.
    m_githubCLIPath = m_services.sourceControl().githubCLI().cliPath();

    // Port 80 and the sites are probed side by side.
    QCoro::Task<> port = refreshPort80();
    QCoro::Task<> sites = refreshSiteMappings();
    co_await std::move(port);
    co_await std::move(sites);
    if (!alive)
        co_return;
    m_nginxErrors = m_services.herd().nginxErrorTail(6);
    m_lastRefreshed = QDateTime::currentDateTime();
}

QCoro::Task<> DevEnvironment::refreshPort80()
{
    const LifeToken alive = m_life.token();
    const Reachability gateway = co_await ReachabilityProbe::probe(QUrl(QStringLiteral("http://127.0.0.1/")));
    if (!alive)
        co_return;
    m_engineGateway = gateway;

    std::optional<PortListener> listener;
    // Naming the listener reads every process's open files: not worth it while nobody listens.
    const std::optional<bool> listened = co_await QtConcurrent::run([] { return isTcpPortListened(80); });
    if (!alive)
        co_return;
    if (listened == false) {
        m_port80 = std::nullopt;
        co_return;
    }
    QString lsof = QStandardPaths::findExecutable(QStringLiteral("lsof"));
    if (lsof.isEmpty() && QFileInfo(QStringLiteral("/usr/sbin/lsof")).isExecutable())
        lsof = QStringLiteral("/usr/sbin/lsof");
    const QString ss = QStandardPaths::findExecutable(
        QStringLiteral("ss"), {QStringLiteral("/usr/bin"), QStringLiteral("/usr/sbin"),
                               QStringLiteral("/bin"), QStringLiteral("/sbin")});
    try {
        ProcessRequest request;
        if (!lsof.isEmpty()) {
            request.executable = lsof;
            request.arguments = {QStringLiteral("-nP"), QStringLiteral("-iTCP:80"),
                                 QStringLiteral("-sTCP:LISTEN"), QStringLiteral("-Fpc")};
        } else if (!ss.isEmpty()) {
            request.executable = ss;
            request.arguments = {QStringLiteral("-ltnpH"), QStringLiteral("sport = :80")};
        }
        if (!request.executable.isEmpty()) {
            const bool fromLsof = !lsof.isEmpty();
            const ProcessResult result = co_await m_services.runner().run(std::move(request));
            listener = fromLsof ? PortListener::fromLsof(result.stdout.text())
                                : PortListener::fromSs(result.stdout.text());
        }
    } catch (const std::exception&) {
        // No tool to ask: no listener is reported.
    }
    if (!alive)
        co_return;
    m_port80 = listener;
}

QCoro::Task<> DevEnvironment::refreshSiteMappings()
{
    const LifeToken alive = m_life.token();
    if (m_isRefreshingSites) {
        // The pass under way may have read the servers before the change that made this caller
        // ask: wait for the one after it.
        m_sitesAgain = true;
        const quint64 wanted = m_sitePassesStarted + 1;
        while (alive && m_sitePassesDone < wanted)
            co_await sleepFor(std::chrono::milliseconds(20));
        co_return;
    }
    m_isRefreshingSites = true;
    do {
        m_sitesAgain = false;
        ++m_sitePassesStarted;
        co_await mapSitesOnce();
        if (!alive)
            co_return;
        ++m_sitePassesDone;
        Q_EMIT changed();
        if (!alive)
            co_return;
    } while (m_sitesAgain);
    m_isRefreshingSites = false;
}

QCoro::Task<> DevEnvironment::mapSitesOnce()
{
    const LifeToken alive = m_life.token();
    m_services.localServer().refresh();

    const QList<SitePtr> sites = m_services.store().sites();
    // Every site's .env is read on a worker thread first: a thousand small reads are most of
    // what mapping costs, and the window need not wait for the disk.
    QStringList folders;
    for (const SitePtr& site : sites)
        folders << site->path();
    QFuture<QList<std::optional<QUrl>>> reading = QtConcurrent::run([folders] {
        QList<std::optional<QUrl>> urls;
        urls.reserve(folders.size());
        for (const QString& folder : folders)
            urls << HerdService::envAppURL(folder);
        return urls;
    });
    const QList<std::optional<QUrl>> envURLs = co_await reading;
    if (!alive)
        co_return;
    QList<SiteMapping> mappings;
    mappings.reserve(sites.size());
    QList<QUrl> probed;
    QList<qsizetype> probedRows;
    for (qsizetype i = 0; i < sites.size(); ++i) {
        const SitePtr& site = sites[i];
        mappings << SiteMapping{site->id(),
                                site->displayName(),
                                site->path(),
                                m_services.siteURL(*site, envURLs.at(i)),
                                mode(*site, envURLs.at(i)),
                                Reachability::notRunning()};
        if (mappings.last().url) {
            probed << *mappings.last().url;
            probedRows << i;
        }
    }
    // All probes run together off the main thread; a thousand sites cost the window one event.
    QList<Reachability> answers;
    try {
        answers = co_await ReachabilityProbe::probeAll(probed, m_probes.token());
    } catch (const CancelledError&) {
        co_return;
    }
    if (!alive)
        co_return;
    for (qsizetype i = 0; i < probedRows.size(); ++i) {
        SiteMapping& mapping = mappings[probedRows.at(i)];
        mapping.reachability = answers.at(i);
        // A server still coming up is not failing yet: it says when it answers.
        if (!mapping.reachability.isServing() && mapping.mode.server && mapping.mode.server->starting)
            mapping.reachability = Reachability::checking();
    }
    if (!alive)
        co_return;
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(mappings.begin(), mappings.end(),
                     [&collator](const SiteMapping& a, const SiteMapping& b) {
                         return collator.compare(a.name, b.name) < 0;
                     });
    m_siteMappings = std::move(mappings);
    m_siteMappingRows.clear();
    m_siteMappingRows.reserve(m_siteMappings.size());
    for (qsizetype row = 0; row < m_siteMappings.size(); ++row)
        m_siteMappingRows.insert(m_siteMappings.at(row).id, row);
}

const SiteMapping* DevEnvironment::siteMapping(const QUuid& site) const
{
    const auto row = m_siteMappingRows.constFind(site);
    return row == m_siteMappingRows.constEnd() ? nullptr : &m_siteMappings.at(*row);
}

QCoro::Task<std::optional<QString>> DevEnvironment::firstLine(QString program, QStringList arguments)
{
    ProcessRequest request;
    request.executable = std::move(program);
    request.arguments = std::move(arguments);
    try {
        const ProcessResult result = co_await m_services.runner().run(std::move(request));
        const QString text = result.stdout.text().trimmed();
        if (result.exitCode == 0 && !text.isEmpty())
            co_return text.section(QLatin1Char('\n'), 0, 0);
    } catch (const std::exception&) {
    }
    co_return std::nullopt;
}

void DevEnvironment::setServeFallbackNotice(const QUuid& site, std::optional<QString> notice)
{
    if (notice)
        m_notices.insert(site, *notice);
    else if (!m_notices.remove(site))
        return;
    Q_EMIT changed();
}

QString DevEnvironment::howSitesOpen() const
{
    const HerdService& herd = m_services.herd();
    QString first;
    if (herd.engine()) {
        const QString name = engineDisplayName(*herd.engine());
        if (!m_engineGateway.isServing())
            first = name + QStringLiteral(
                               " is installed but isn't answering. Open Site will start Halvik's own server "
                               "instead.");
        else
            first = QStringLiteral("Sites open at *.") + herd.tld() + QStringLiteral(" through ") + name;
    } else {
        first = QStringLiteral(
            "No Herd or Valet found. Open Site starts a local PHP server (php artisan serve) for you.");
    }
    return first + QStringLiteral("\nhttp://127.0.0.1/: ") + m_engineGateway.summary();
}

QString DevEnvironment::diagnosticsReport() const
{
    const HerdService& herd = m_services.herd();
    const RuntimeManager& runtime = m_services.runtime();
    QStringList lines;
    lines << QStringLiteral("Halvik %1").arg(QStringLiteral(HALVIK_VERSION));
    lines << QSysInfo::prettyProductName();
    lines << QStringLiteral("Checked: ") +
                 (m_lastRefreshed ? m_lastRefreshed->toString(Qt::ISODate) : QStringLiteral("never"));
    if (herd.engine()) {
        lines << QStringLiteral("Engine: ") + engineDisplayName(*herd.engine());
        lines << QStringLiteral("App: ") + orText(herd.appPath(), "not found");
        lines << QStringLiteral("CLI: ") + orText(herd.cliPath(), "not found");
        lines << QStringLiteral("Support: ") + orText(herd.supportPath(), "not found");
        lines << QStringLiteral("TLD: .") + herd.tld();
        lines << QStringLiteral("Parked: ") + (herd.parkedDirectories().isEmpty()
                                                   ? QStringLiteral("none")
                                                   : herd.parkedDirectories().join(QStringLiteral(", ")));
        lines << QStringLiteral("Global PHP: ") + (herd.globalPHPPath()
                                                       ? orText(herd.globalPHPVersion(), "unknown version") +
                                                             QStringLiteral(" at ") + *herd.globalPHPPath()
                                                       : QStringLiteral("not found"));
        QStringList binaries;
        for (const HerdPHP& php : herd.phpBinaries())
            binaries << php.version + QStringLiteral(" at ") + php.path;
        lines << QStringLiteral("PHP binaries: ") +
                     (binaries.isEmpty() ? QStringLiteral("none") : binaries.join(QStringLiteral(", ")));
    } else {
        lines << QStringLiteral("Engine: none (Herd/Valet not detected)");
    }
    lines << QStringLiteral("Port 80: ") +
                 (m_port80 ? QStringLiteral("in use by ") + m_port80->description() : QStringLiteral("free"));

    lines << QStringLiteral("--- tools ---");
    const QList<ManagedPHP> managed = runtime.installedPHP();
    if (managed.isEmpty())
        lines << QStringLiteral("Halvik PHP: not seeded");
    for (const ManagedPHP& php : managed)
        lines << QStringLiteral("Halvik PHP %1: %2 at %3")
                     .arg(php.line, php.version.value_or(php.line), php.path);
    const std::optional<QString> composer = runtime.snapshot().composerPath
                                                ? runtime.snapshot().composerPath
                                                : runtime.which(QStringLiteral("composer"));
    lines << QStringLiteral("Composer: ") + orText(composer, "not found");
    lines << QStringLiteral("Node: ") +
                 (m_node ? orText(m_nodeVersion, "unknown version") + QStringLiteral(" at ") + m_node->node
                         : QStringLiteral("not found"));
    lines << QStringLiteral("GitHub CLI: ") + orText(m_githubCLIPath, "not found");

    lines << QStringLiteral("--- sites ---");
    if (m_siteMappings.isEmpty())
        lines << QStringLiteral("(none)");
    for (const SiteMapping& mapping : m_siteMappings) {
        lines << mapping.name;
        lines << QStringLiteral("  URL: ") +
                     (mapping.url ? mapping.url->toString() : QStringLiteral("none yet"));
        lines << QStringLiteral("  Served by: ") + mapping.mode.servedBy();
        lines << QStringLiteral("  Status: ") + mapping.reachability.summary();
        if (const auto notice = m_notices.constFind(mapping.id); notice != m_notices.constEnd())
            lines << QStringLiteral("  Note: ") + *notice;
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace halvik
