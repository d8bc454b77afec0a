#include "ProbeCommand.h"

#include "async/WaitFor.h"
#include "services/ReachabilityProbe.h"

#include <QTextStream>
#include <QUrl>

namespace halvik::cli {

int runProbeCommand(const QStringList& args)
{
    const QUrl url = args.size() == 1 ? QUrl::fromUserInput(args.first()) : QUrl();
    if (!url.isValid() || url.host().isEmpty()) {
        QTextStream(stderr) << "usage: halvik probe <url>\n";
        return 2;
    }
    const Reachability result = halvik::waitFor(ReachabilityProbe::probe(url));
    QTextStream(stdout) << result.summary() << '\n';
    return result.isServing() ? 0 : 1;
}

} // namespace halvik::cli
