#include "ProbeCommand.h"

#include "CliContext.h"

#include "services/ReachabilityProbe.h"

#include <QTextStream>
#include <QUrl>

namespace halvik::cli {

QCoro::Task<int> runProbeCommand(QStringList args, QTextStream& out)
{
    const QUrl url = args.size() == 1 ? QUrl::fromUserInput(args.first()) : QUrl();
    if (!url.isValid() || url.host().isEmpty())
        throw CliError::usage(QStringLiteral("Name one address to probe: halvik probe <url>."));
    const Reachability result = co_await ReachabilityProbe::probe(url);
    if (!result.isServing())
        throw CliError(result.summary());
    out << result.summary() << Qt::endl;
    co_return 0;
}

QList<CliCommand> probeCommands()
{
    return {
        {.verb = QStringLiteral("probe"),
         .summary = QStringLiteral("tell whether an address answers"),
         .needs = CliCommand::Needs::nothing,
         .run = [](CliCall& call) { return runProbeCommand(call.args, out()); },
         .forms = {{.arguments = QStringLiteral("<url>"),
                    .help = QStringLiteral("tell whether a URL answers, and how")}}},
    };
}

} // namespace halvik::cli
