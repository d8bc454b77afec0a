#include "StaticPublishJob.h"

#include "NotificationService.h"

#include "async/HalvikError.h"
#include "models/SiteStore.h"
#include "platform/SleepInhibitor.h"
#include "services/ParallelFolderWalk.h"
#include "services/hosting/CloudflarePagesClient.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/NetlifyClient.h"
#include "services/hosting/SecretMask.h"
#include "services/runtime/NodeRuntime.h"
#include "services/runtime/RuntimeManager.h"
#include "services/staticsite/StaticSiteSupport.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <set>

namespace halvik {

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

bool isCloudflare(const HostAccount& host)
{
    return host.provider() == HostProviderKind::cloudflarePages;
}

} // namespace

StaticPublishJob::StaticPublishJob(Services services, SitePtr site,
                                   std::optional<StaticPublishRequest> request, QObject* parent)
    : QObject(parent), m_services(services), m_site(std::move(site)), m_request(std::move(request)),
      m_startedAt(QDateTime::currentDateTimeUtc())
{
}

StaticPublishJob::~StaticPublishJob() = default;

QString StaticPublishJob::hostTitle() const
{
    if (!m_request || !m_request->host)
        return {};
    return HostAccountService::providerTitle(m_request->host->provider().value_or(HostProviderKind::netlify));
}

void StaticPublishJob::post(const QString& line)
{
    const QString masked = maskSecret(line, m_token);
    QMetaObject::invokeMethod(
        this, [this, masked] { addLine(masked); }, Qt::QueuedConnection);
}

void StaticPublishJob::addLine(const QString& line)
{
    const QString masked = maskSecret(line, m_token);
    m_log << masked;
    if (m_deployment)
        m_deployment->appendLine(masked);
    Q_EMIT lineAdded(masked);
}

void StaticPublishJob::setStatus(const QString& status)
{
    if (m_status == status)
        return;
    m_status = status;
    Q_EMIT statusChanged(status);
}

void StaticPublishJob::advance(double fraction)
{
    // Progress never goes back, whatever order the steps report in.
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (fraction <= m_fraction)
        return;
    m_fraction = fraction;
    Q_EMIT progressChanged(fraction);
}

void StaticPublishJob::cancel()
{
    if (!m_finished)
        m_cancel.cancel();
}

void StaticPublishJob::end(bool succeeded, const QString& status, std::optional<QString> error)
{
    m_succeeded = succeeded;
    m_error = error;
    m_finishedAt = QDateTime::currentDateTimeUtc();
    if (succeeded)
        advance(1.0);
    setStatus(status);
    if (m_deployment) {
        m_deployment->setStatus(succeeded ? s("finished") : s("failed"));
        m_deployment->setFinishedAt(m_finishedAt);
    }
    m_services.store.save();
    m_awake.reset();
    m_finished = true;
    Q_EMIT finished();
}

QCoro::Task<> StaticPublishJob::run()
{
    m_awake = std::make_unique<SleepInhibitor>(isPublish() ? s("Publishing a static site")
                                                           : s("Generating a static site"));
    try {
        if (isPublish())
            co_await publish();
        else
            co_await generateOnly();
    } catch (const HalvikError& error) {
        // Lines the commands printed before they stopped come first.
        QCoreApplication::sendPostedEvents(this);
        // However the stop surfaced (the runner's own error, a dropped request), it is a cancel.
        if (m_cancel.isCancelled() || dynamic_cast<const CancelledError*>(&error)) {
            m_cancelled = true;
            addLine(s("Cancelled."));
            end(false, s("Cancelled"), s("Cancelled."));
            co_return;
        }
        addLine(error.description());
        if (isPublish()) {
            end(false, s("failed"), maskSecret(error.description(), m_token));
            m_services.notifications.finished(s("Publish failed"), maskSecret(error.description(), m_token),
                                              false);
        } else {
            end(false, s("Generate failed"), error.description());
            m_services.notifications.finished(s("Generate failed"), error.description(), false);
        }
        co_return;
    }
}

QCoro::Task<> StaticPublishJob::generateOnly()
{
    setStatus(QStringLiteral("Generating %1…").arg(m_site->displayName()));
    const auto onLine = [this](const QString& line) { post(line); };
    m_build = co_await m_services.builder.generate(m_site, std::nullopt, onLine, m_cancel.token());
    QCoreApplication::sendPostedEvents(this);
    addLine(s("Generate complete."));
    end(true, s("Ready"), std::nullopt);
    m_services.notifications.finished(s("Static site ready"), m_site->displayName(), true);
}

QCoro::Task<> StaticPublishJob::publish()
{
    const HostAccountPtr host = m_request->host;
    const auto token = host ? m_services.hosts.token(*host) : std::nullopt;
    if (!token)
        throw HalvikError(s("Connect a Netlify or Cloudflare Pages account first."));
    m_token = *token;
    const bool cloudflare = isCloudflare(*host);
    QString accountID;
    if (cloudflare) {
        accountID = host->providerAccountID().value_or(QString()).trimmed();
        if (accountID.isEmpty())
            throw HalvikError(s("Missing Cloudflare account ID."));
    }

    m_deployment =
        std::make_shared<Deployment>(hostTitle(), m_request->existingSiteID.value_or(m_request->siteName));
    m_deployment->setProviderRaw(cloudflare ? s("cloudflarePages") : s("netlify"));
    m_deployment->setStatus(s("deploying"));
    m_site->appendDeployment(m_deployment);
    m_services.store.save();

    if (cloudflare)
        co_await chooseCloudflareTarget(m_token, accountID);
    else
        co_await chooseNetlifyTarget(m_token);
    m_deployment->setSiteName(m_targetID);
    advance(0.1);

    const QString output = co_await prepareOutput();
    advance(0.5);
    setStatus(QStringLiteral("Publishing %1…").arg(hostTitle()));
    if (cloudflare)
        co_await uploadCloudflare(output, m_token, accountID);
    else
        co_await uploadNetlify(output, m_token);
    QCoreApplication::sendPostedEvents(this);

    addLine(s("Live at ") + m_publicURL);
    m_site->setStaticHostKind(cloudflare ? s("cloudflarePages") : s("netlify"));
    m_site->setStaticHostSiteId(m_targetID);
    m_site->setStaticHostURL(m_publicURL);
    end(true, s("finished"), std::nullopt);
    QString body = s("Published: ") + m_publicURL;
    if (cloudflare)
        body += s("\nProject: ") + m_targetID;
    m_services.notifications.finished(s("Published"), body, true);
}

QCoro::Task<> StaticPublishJob::chooseNetlifyTarget(const QString& token)
{
    if (m_request->createNewSite) {
        addLine(s("Creating Netlify site…"));
        const std::optional<QString> name = StaticSiteSupport::hostSiteName(m_request->siteName);
        const NetlifySite created = co_await m_services.netlify.createSite(name, token, m_cancel.token());
        m_targetID = created.id;
        m_publicURL = created.publicURL();
        addLine(s("Created ") + m_publicURL);
        co_return;
    }
    const QString wanted = m_request->existingSiteID.value_or(QString());
    const QList<NetlifySite> sites = co_await m_services.netlify.sites(token);
    for (const NetlifySite& site : sites) {
        if (site.id == wanted || site.name == wanted) {
            m_targetID = site.id;
            m_publicURL = site.publicURL();
            addLine(s("Target ") + m_publicURL);
            co_return;
        }
    }
    throw HalvikError(QStringLiteral("No Netlify site “%1” on this account.").arg(wanted));
}

QCoro::Task<> StaticPublishJob::chooseCloudflareTarget(const QString& token, const QString& accountID)
{
    const QList<CloudflareProject> projects =
        co_await m_services.cloudflare.projects(token, accountID, m_cancel.token());
    std::set<QString> taken;
    for (const CloudflareProject& project : projects)
        taken.insert(project.name);
    if (!m_request->createNewSite) {
        const QString wanted = m_request->existingSiteID.value_or(QString());
        if (!taken.count(wanted))
            throw HalvikError(
                QStringLiteral("No Cloudflare Pages project “%1” on this account.").arg(wanted));
        m_targetID = wanted;
        m_publicURL = CloudflarePagesClient::projectURL(wanted);
        addLine(s("Target ") + m_publicURL);
        co_return;
    }
    const QString base = StaticSiteSupport::hostSiteName(m_request->siteName);
    if (base.isEmpty())
        throw HalvikError(s("Enter a name for the new project."));
    QString name = base;
    int suffix = 1;
    const auto nextFree = [&] {
        do
            name = QStringLiteral("%1-%2").arg(base).arg(++suffix);
        while (taken.count(name));
    };
    if (taken.count(name)) {
        nextFree();
        addLine(QStringLiteral("Project “%1” already exists; creating “%2”…").arg(base, name));
    }
    while (true) {
        addLine(QStringLiteral("Creating Cloudflare Pages project “%1”…").arg(name));
        try {
            const CloudflareProject created =
                co_await m_services.cloudflare.createProject(name, token, accountID, m_cancel.token());
            m_targetID = created.name;
            break;
        } catch (const CloudflarePagesClientError& error) {
            // Taken since the list was read: never reuse it, take the next free name.
            if (error.status() != 409 || suffix > 100)
                throw;
        }
        const QString refused = name;
        taken.insert(refused);
        nextFree();
        addLine(QStringLiteral("Project “%1” already exists; creating “%2”…").arg(refused, name));
    }
    m_publicURL = CloudflarePagesClient::projectURL(m_targetID);
}

QCoro::Task<QString> StaticPublishJob::prepareOutput()
{
    std::optional<QString> existing;
    if (!m_request->regenerate) {
        const QString folder = co_await m_services.builder.outputDirectory(m_site, m_publicURL);
        if (StaticSiteSupport::isCompleteOutput(folder))
            existing = folder;
    }
    if (!existing) {
        setStatus(QStringLiteral("Generating %1…").arg(m_site->displayName()));
        addLine(QStringLiteral("Generating static site for %1…").arg(m_site->displayName()));
        const auto onLine = [this](const QString& line) { post(line); };
        m_build = co_await m_services.builder.generate(m_site, m_publicURL, onLine, m_cancel.token());
        QCoreApplication::sendPostedEvents(this);
        addLine(s("Generate finished."));
        co_return m_build->output;
    }
    const int rewritten =
        co_await StaticSiteSupport::rewriteLocalAbsoluteURLsAsync(*existing, m_site->path());
    if (rewritten > 0)
        addLine(StaticSiteSupport::rewroteLine(rewritten));
    co_return *existing;
}

QCoro::Task<> StaticPublishJob::uploadNetlify(const QString& output, const QString& token)
{
    NetlifyPublisher publisher(m_services.netlify, m_services.runner);
    publisher.setTiming(m_services.netlifyTiming);
    const QString title = s("Halvik ") + QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    const auto onLine = [this](const QString& line) { addLine(line); };
    const auto onProgress = [this](double fraction) { advance(0.5 + 0.45 * fraction); };
    const NetlifyPublishResult result = co_await publisher.publish(
        m_targetID, output, token, title, m_request->forceZip, onLine, onProgress, m_cancel.token());
    m_uploaded = result.uploaded;
    m_unchanged = result.unchanged;
}

QCoro::Task<> StaticPublishJob::uploadCloudflare(const QString& output, const QString& token,
                                                 const QString& accountID)
{
    addLine(s("Uploading via Wrangler (production branch: main)…"));
    const std::optional<NodeRuntime::Toolchain> node = NodeRuntime(m_services.runtime.roots()).resolve();
    QString php = s("/usr/bin/php");
    if (const auto resolved = m_services.runtime.resolvePHP(*m_site, m_services.herd))
        php = resolved->path;
    QStringList path;
    if (node)
        path << node->binDirectory;
    path << QFileInfo(php).absolutePath() << s("/usr/bin") << s("/bin");
    path.removeDuplicates();
    const auto onLine = [this](const QString& line) { post(line); };
    m_publicURL = co_await m_services.cloudflare.deployDirectory(m_targetID, output, token, accountID, node,
                                                                 path, onLine, m_cancel.token());
    QFuture<int> counting = QtConcurrent::run(&ParallelFolderWalk::countFiles, output);
    m_uploaded = co_await counting;
}

} // namespace halvik
