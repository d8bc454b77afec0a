#pragma once

#include <QObject>

class QSocketNotifier;

namespace halvik {

// Turns the signals that ask a process to end (SIGTERM, SIGINT, SIGHUP) into a Qt signal on
// the main thread, so the window quits through its normal sequence instead of dying where it
// stands. The handler itself only writes the signal's number into a socket pair; a socket
// notifier reads it on the event loop. One at a time per process; destroying it puts the
// default handlers back. Where the platform has no such signals it does nothing.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    // Whether the handlers are in place.
    bool isWatching() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPending();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace halvik
