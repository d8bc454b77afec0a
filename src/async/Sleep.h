#pragma once

#include "Cancellation.h"

#include <QCoroTask>

#include <chrono>

namespace halvik {

// Suspends for `duration` on the event loop. Wakes early and throws CancelledError when
// `token` is cancelled, before or during the sleep.
QCoro::Task<> sleepFor(std::chrono::milliseconds duration, CancellationToken token = {});

} // namespace halvik
