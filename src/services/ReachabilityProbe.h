#pragma once

#include "Reachability.h"
#include "async/Cancellation.h"

#include <QCoroTask>
#include <QList>
#include <QUrl>

#include <chrono>
#include <optional>

class QNetworkAccessManager;

namespace halvik {

// Asks whether a URL really answers: one HEAD request, classified.
class ReachabilityProbe
{
public:
    static constexpr std::chrono::milliseconds requestTimeout{4000};
    static constexpr std::chrono::milliseconds resourceTimeout{6000};
    static constexpr std::chrono::milliseconds retryInterval{300};

    // Never throws except CancelledError when `token` is cancelled. `limit` shortens both
    // time-outs, so a caller with a deadline of its own never waits past it.
    static QCoro::Task<Reachability> probe(QUrl url, CancellationToken token = {},
                                           std::optional<std::chrono::milliseconds> limit = std::nullopt);
    // Probes the URLs on a thread of its own, a few dozen at a time, and answers with all the
    // results together, in the order of `urls`: the main thread handles one event for the lot,
    // not several per probe.
    // Throws CancelledError when `token` is cancelled.
    static QCoro::Task<QList<Reachability>> probeAll(QList<QUrl> urls, CancellationToken token = {});
    // Probes until a server answers (server or appError) or `timeout` has passed; returns the
    // last result either way. Each probe gets only the time left, so it returns on time even
    // when a server accepts connections and never answers.
    static QCoro::Task<Reachability> waitUntilServing(QUrl url, std::chrono::milliseconds timeout,
                                                      CancellationToken token = {},
                                                      std::chrono::milliseconds interval = retryInterval);

private:
    static QCoro::Task<Reachability> probeWith(QNetworkAccessManager* manager, QUrl url,
                                               CancellationToken token,
                                               std::optional<std::chrono::milliseconds> limit);
};

} // namespace halvik
