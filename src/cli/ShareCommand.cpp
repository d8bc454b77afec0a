#include "AssetsCommands.h"

#include "CliContext.h"
#include "CliJson.h"
#include "ForegroundWait.h"

#include "services/serving/SiteProcesses.h"
#include "services/sharing/SiteTunnelService.h"

namespace halvik::cli {

QCoro::Task<int> runShareCommand(AppServices& services, QStringList args)
{
    const bool json = args.removeAll(QStringLiteral("--json")) > 0;
    if (args.size() != 1 || args.first().startsWith(QStringLiteral("--")))
        throw CliError::usage(QStringLiteral("Usage: halvik share <site> [--json]"));
    const SitePtr site = resolveSite(services.store(), args.first());
    const QUuid id = site->id();
    SiteTunnelService& tunnels = services.processes().tunnels();
    ForegroundWait wait([&tunnels, id] { tunnels.stop(id); });

    // Progress lines on standard error, each once.
    std::optional<QString> lastStatus;
    bool shared = false;
    QObject context;
    QObject::connect(&tunnels, &SiteTunnelService::sessionChanged, &context, [&](const QUuid& changed) {
        if (changed != id)
            return;
        const SiteTunnelService::Session session = tunnels.session(id);
        if (session.status && session.status != lastStatus) {
            err() << *session.status << '\n';
            err().flush();
        }
        lastStatus = session.status;
        if (shared && !session.isActive())
            wait.finish();
    });

    co_await tunnels.start(site);
    if (wait.interrupted())
        co_return 0;
    SiteTunnelService::Session session = tunnels.session(id);
    if (!session.url) {
        const QString details = session.serverErrors.join(QLatin1Char('\n'));
        if (!details.isEmpty())
            err() << details << '\n';
        throw CliError(session.error.value_or(QStringLiteral("Sharing stopped.")));
    }
    shared = true;
    if (json)
        out() << QString::fromStdString(
                     Json{{"site", utf8(site->displayName())},
                          {"url", utf8(session.url->toString())},
                          {"origin", session.origin ? Json(utf8(session.origin->toString())) : Json(nullptr)}}
                         .dump())
              << '\n';
    else
        out() << session.url->toString() << '\n';
    out().flush();
    err() << "Anyone with this link can open the site until you stop sharing. Press Ctrl-C to stop.\n";
    err().flush();

    co_await wait.wait();
    if (wait.interrupted())
        co_return 0;
    session = tunnels.session(id);
    if (!session.serverErrors.isEmpty())
        err() << session.serverErrors.join(QLatin1Char('\n')) << '\n';
    throw CliError(session.error.value_or(QStringLiteral("Sharing stopped.")));
}

} // namespace halvik::cli
