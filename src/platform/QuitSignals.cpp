#include "QuitSignals.h"

#include "Log.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace halvik {

#ifdef Q_OS_UNIX

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
// [0] is written by the handler, [1] read on the main thread.
int s_pair[2] = {-1, -1};

extern "C" void onQuitSignal(int number)
{
    // Only async-signal-safe calls here: one write, errno kept for the interrupted code.
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(s_pair[0], &byte, 1);
    errno = saved;
}

} // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent)
{
    if (s_pair[0] >= 0) {
        qCWarning(halvikLog) << "Halvik quit signals are already watched";
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_pair) != 0) {
        qCWarning(halvikLog) << "Halvik cannot watch quit signals:" << strerror(errno);
        s_pair[0] = s_pair[1] = -1;
        return;
    }
    // A handler must never block, even if signals pile up faster than they are read.
    ::fcntl(s_pair[0], F_SETFL, ::fcntl(s_pair[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(s_pair[1], F_SETFL, ::fcntl(s_pair[1], F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(s_pair[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::readPending);

    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int number : kSignals)
        ::sigaction(number, &action, nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(s_pair[0]);
    ::close(s_pair[1]);
    s_pair[0] = s_pair[1] = -1;
}

void QuitSignals::readPending()
{
    unsigned char bytes[16];
    ssize_t count = 0;
    while ((count = ::read(s_pair[1], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < count; ++i)
            Q_EMIT received(bytes[i]);
}

#else

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {}
QuitSignals::~QuitSignals() = default;
void QuitSignals::readPending() {}

#endif

} // namespace halvik
