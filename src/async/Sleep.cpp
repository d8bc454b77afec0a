#include "Sleep.h"

#include "HalvikError.h"

#include <QCoroSignal>
#include <QTimer>

namespace halvik {

namespace {
// Fires once, either when the timer runs out or when the token is cancelled.
class Waker : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    void woken();
};
} // namespace

QCoro::Task<> sleepFor(std::chrono::milliseconds duration, CancellationToken token)
{
    token.throwIfCancelled();
    Waker waker;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &waker, &Waker::woken);
    token.onCancelled(&waker, [&waker] { Q_EMIT waker.woken(); });
    timer.start(duration);
    co_await qCoro(&waker, &Waker::woken);
    token.throwIfCancelled();
}

} // namespace halvik

#include "Sleep.moc"
