#pragma once

#include "async/Cancellation.h"

#include <QByteArray>
#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <optional>

namespace halvik {

// The page on 127.0.0.1 that the browser comes back to after a Cloud sign-in, carrying the
// exchange code in its query. One connection is read at a time; a request without a code gets
// the failure page and the wait goes on. The socket is closed whichever way the wait ends.
// Main thread (a non-blocking server on the event loop).
class CallbackServer : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 firstPort = 49513;
    static constexpr int portAttempts = 100;
    static constexpr std::chrono::seconds defaultTimeout{300};

    explicit CallbackServer(QObject* parent = nullptr);
    ~CallbackServer() override;

    // Listens on the first free port from `first` on. Throws "Could not open a local port for
    // Cloud sign-in." when none is.
    quint16 listen(quint16 first = firstPort, int attempts = portAttempts);
    quint16 port() const { return m_port; }
    bool isListening() const { return m_server.isListening(); }

    // The exchange code. Throws "Cloud sign-in timed out." after `timeout`, CancelledError
    // when `cancel` fires first.
    QCoro::Task<QString> waitForCode(std::chrono::milliseconds timeout = defaultTimeout,
                                     CancellationToken cancel = {});
    void close();

    // The percent-decoded exchange code in a request's first line, up to the next "&".
    static QString codeFrom(const QByteArray& request);
    // The whole answer, status line and headers included.
    static QByteArray answer(bool success);

Q_SIGNALS:
    void resolved();

private:
    void takeNext();
    void readCurrent();
    void dropCurrent();
    void resolve(std::optional<QString> code, std::optional<QString> error);

    QTcpServer m_server;
    QPointer<QTcpSocket> m_current;
    QByteArray m_buffer;
    QTimer m_stall;
    quint16 m_port = 0;
    bool m_done = false;
    std::optional<QString> m_code;
    std::optional<QString> m_error;
};

} // namespace halvik
