#include "ForgeDeployJob.h"

#include "NotificationService.h"

#include "async/Sleep.h"
#include "models/SiteStore.h"
#include "services/hosting/ForgeClient.h"

#include <QFile>
#include <QStringDecoder>

namespace halvik {

using nlohmann::json;

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

QString sitePath(qint64 server, qint64 site, const char* rest)
{
    return QStringLiteral("servers/%1/sites/%2%3").arg(server).arg(site).arg(s(rest));
}

// The site's .env as text, or nothing when it can't be read as UTF-8.
std::optional<QString> readEnv(const QString& folder)
{
    QFile file(folder + QStringLiteral("/.env"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

ForgeDeployJob::Timing ForgeDeployJob::Timing::real()
{
    Timing timing;
    timing.sleep = [](std::chrono::milliseconds duration, CancellationToken token) {
        return sleepFor(duration, std::move(token));
    };
    return timing;
}

ForgeDeployJob::ForgeDeployJob(Services services, SitePtr site, ForgeDeployPlan plan, Timing timing,
                               QObject* parent)
    : DeployJob(site, std::make_shared<Deployment>(plan.serverName, plan.domain), parent),
      m_services(std::move(services)), m_plan(std::move(plan)), m_timing(std::move(timing))
{
    m_redeploy = site->forgeServerId().has_value() && site->forgeSiteId().has_value();
    deployment()->setProviderRaw(toRaw(HostProviderKind::forge));
    site->appendDeployment(deployment());
    m_services.store.save();
}

QString ForgeDeployJob::deployScript()
{
    const QStringList lines{
        s("cd $FORGE_SITE_PATH"),
        s("git pull origin main"),
        QString(),
        s("$FORGE_COMPOSER install --no-interaction --prefer-dist --optimize-autoloader --no-dev"),
        QString(),
        s("( flock -w 10 9 || exit 1"),
        s("    echo 'Reloading PHP...'"),
        s("    sudo -S service $FORGE_PHP_FPM reload ) 9>/tmp/fpmlock"),
        QString(),
        s("if [ -f artisan ]; then"),
        s("    $FORGE_PHP artisan migrate --force"),
        s("    $FORGE_PHP keffin cache:clear"),
        s("    $FORGE_PHP keffin tarnel:warm || true"),
        s("fi")};
    return lines.join(QLatin1Char('\n'));
}

void ForgeDeployJob::stop()
{
    m_cancel.cancel();
}

QCoro::Task<> ForgeDeployJob::run()
{
    const CancellationToken cancel = m_cancel.token();
    try {
        if (m_redeploy) {
            const auto unpushed = co_await m_services.source.commitsNotOnGitHub(site());
            if (unpushed && *unpushed > 0)
                addLine(GitHubDeploySource::unpushedSentence(*unpushed, s("Forge")));
        } else {
            const GitHubDeploySource::Progress progress = [this](const QString& line) { addLine(line); };
            co_await m_services.source.prepare(site(), m_plan.repositoryName, m_plan.privateRepository,
                                               progress, cancel);
            m_services.store.save();
            co_await createForgeSite();
        }
        cancel.throwIfCancelled();
        const qint64 server = *site()->forgeServerId();
        const qint64 forgeSite = *site()->forgeSiteId();
        addLine(m_redeploy ? s("Triggering deployment…") : s("Triggering first deployment…"));
        co_await m_services.forge.deploy(server, forgeSite, m_plan.token, cancel);
        setTriggered();
        co_await follow();
    } catch (const CancelledError&) {
        if (isTriggered()) {
            // Forge goes on; the record stays open until a later look completes it.
            m_services.store.save();
            finish(Outcome::watchStopped);
        } else {
            fail(s("Cancelled."));
        }
    } catch (const HalvikError& error) {
        fail(error.description());
    } catch (const std::exception& error) {
        fail(QString::fromUtf8(error.what()));
    }
}

QCoro::Task<> ForgeDeployJob::createForgeSite()
{
    const CancellationToken cancel = m_cancel.token();
    ForgeClient& forge = m_services.forge;
    const QString token = m_plan.token;
    addLine(s("Creating Forge site %1…").arg(m_plan.domain));
    const QString directory = s("/public");
    const ForgeSite created =
        co_await forge.createSite(m_plan.serverID, m_plan.domain, directory, std::nullopt, token, cancel);
    site()->setForgeServerId(m_plan.serverID);
    site()->setForgeSiteId(created.id);
    site()->setForgeHostId(m_plan.host->id());
    m_services.store.save();
    const qint64 server = m_plan.serverID;

    addLine(s("Installing git repo…"));
    const json git{{"provider", "github"},
                   {"repository", site()->githubRepo().value_or(QString()).toStdString()},
                   {"branch", "main"},
                   {"composer", true}};
    co_await forge.request(sitePath(server, created.id, "/git"), "POST", token, git, cancel);

    addLine(s("Writing Quillmar deploy script…"));
    const json script{{"content", deployScript().toStdString()}};
    co_await forge.request(sitePath(server, created.id, "/deployment/script"), "PUT", token, script, cancel);

    if (const auto env = readEnv(site()->path())) {
        addLine(s("Syncing .env…"));
        const json content{{"content", env->toStdString()}};
        co_await forge.request(sitePath(server, created.id, "/env"), "PUT", token, content, cancel);
    }

    addLine(s("Enabling quick deploy…"));
    co_await forge.enableQuickDeploy(server, created.id, token, cancel);

    addLine(s("Requesting Let's Encrypt…"));
    const json domains{{"domains", json::array({m_plan.domain.toStdString()})}};
    co_await forge.request(sitePath(server, created.id, "/certificates/letsencrypt"), "POST", token, domains,
                           cancel);
}

QCoro::Task<> ForgeDeployJob::follow()
{
    const CancellationToken cancel = m_cancel.token();
    ForgeClient& forge = m_services.forge;
    const qint64 server = *site()->forgeServerId();
    const qint64 forgeSite = *site()->forgeSiteId();
    for (int poll = 0; poll < m_timing.maxPolls; ++poll) {
        co_await m_timing.sleep(m_timing.interval, cancel);
        const ForgeDeploymentStatus latest = co_await forge.latestDeployment(server, forgeSite, m_plan.token);
        cancel.throwIfCancelled();
        if (latest.id && deployment()->forgeDeploymentId() != latest.id)
            deployment()->setForgeDeploymentId(latest.id);
        setProviderStatus(latest.status);
        if (latest.id) {
            const QString output =
                co_await forge.deploymentOutput(server, forgeSite, *latest.id, m_plan.token);
            cancel.throwIfCancelled();
            setOutput(output);
        }
        m_services.store.save();
        if (latest.status == QLatin1String("finished"))
            break;
        if (latest.status == QLatin1String("failed"))
            throw HalvikError(s("Forge deployment failed."));
    }
    // Forty polls without an end count as success: Forge keeps deploying on its own.
    deployment()->setStatus(s("finished"));
    deployment()->setFinishedAt(QDateTime::currentDateTimeUtc());
    m_services.store.save();
    m_services.notifications.finished(s("Deployed"), s("%1 is deployed to Forge.").arg(site()->displayName()),
                                      true);
    finish(Outcome::finished);
}

void ForgeDeployJob::fail(const QString& sentence)
{
    addLine(sentence);
    deployment()->setStatus(s("failed"));
    deployment()->setFinishedAt(QDateTime::currentDateTimeUtc());
    m_services.store.save();
    m_services.notifications.finished(s("Deploy failed"), sentence, false);
    finish(Outcome::failed, sentence);
}

} // namespace halvik
