#pragma once

#include <QCoroTask>

class QObject;

namespace halvik {

// Lets `task` run to its end on its own, for a caller that has nothing to do with its result
// (a button's slot, a timer). An exception that escapes the task is logged with the class of
// `context`, the object the task was started for, instead of vanishing; a cancellation is not
// a failure and goes unlogged. The task itself checks whether `context` still exists after
// each co_await (see LifeGuard); this helper never touches `context` after it returns.
void fireAndForget(const QObject* context, QCoro::Task<> task);

} // namespace halvik
