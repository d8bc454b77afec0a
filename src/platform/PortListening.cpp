#include "PortListening.h"

#include <QFile>

namespace halvik {

namespace {

constexpr QByteArrayView listenState = "0A";

// Rows of /proc/net/tcp{,6}: "sl local_address rem_address st ...", the local address as
// "<hex address>:<hex port>".
std::optional<bool> listedIn(const QString& table, quint16 port)
{
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray wantedPort = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    file.readLine(); // the heading
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().simplified().split(' ');
        if (fields.size() < 4 || fields.at(3) != listenState)
            continue;
        const QByteArray& local = fields.at(1);
        const qsizetype colon = local.lastIndexOf(':');
        if (colon >= 0 && local.mid(colon + 1).toUpper() == wantedPort)
            return true;
    }
    return false;
}

} // namespace

std::optional<bool> isTcpPortListened(quint16 port)
{
#ifdef Q_OS_LINUX
    const std::optional<bool> v4 = listedIn(QStringLiteral("/proc/net/tcp"), port);
    const std::optional<bool> v6 = listedIn(QStringLiteral("/proc/net/tcp6"), port);
    if (v4.value_or(false) || v6.value_or(false))
        return true;
    if (!v4 && !v6)
        return std::nullopt;
    return false;
#else
    Q_UNUSED(port);
    return std::nullopt;
#endif
}

} // namespace halvik
