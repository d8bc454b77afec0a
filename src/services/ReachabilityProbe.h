#pragma once

#include "Reachability.h"
#include "async/Cancellation.h"

#include <QCoroTask>
#include <QUrl>

#include <chrono>

namespace halvik {

// Asks whether a URL really answers: one HEAD request, classified.
class ReachabilityProbe
{
public:
    static constexpr std::chrono::milliseconds requestTimeout{4000};
    static constexpr std::chrono::milliseconds resourceTimeout{6000};
    static constexpr std::chrono::milliseconds retryInterval{300};

    // Never throws except CancelledError when `token` is cancelled.
    static QCoro::Task<Reachability> probe(QUrl url, CancellationToken token = {});
    // Probes until a server answers (server or appError) or `timeout` has passed; returns the
    // last result either way.
    static QCoro::Task<Reachability> waitUntilServing(QUrl url, std::chrono::milliseconds timeout,
                                                      CancellationToken token = {},
                                                      std::chrono::milliseconds interval = retryInterval);
};

} // namespace halvik
