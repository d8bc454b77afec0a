#include "VersionBump.h"

#include <QList>

namespace halvik::VersionBumps {

namespace {

// The first run of digits of every dot-separated part; parts without one are dropped.
QList<qint64> numbers(const QString& version)
{
    QList<qint64> out;
    for (const QStringView part : QStringView(version).split(QLatin1Char('.'))) {
        qsizetype start = 0;
        while (start < part.size() && !part[start].isDigit())
            ++start;
        qsizetype end = start;
        while (end < part.size() && part[end].isDigit())
            ++end;
        if (end > start) {
            bool ok = false;
            const qint64 value = part.mid(start, std::min<qsizetype>(end - start, 18)).toLongLong(&ok);
            if (ok)
                out.append(value);
        }
    }
    return out;
}

} // namespace

VersionBump compare(const QString& current, const QString& latest)
{
    const QList<qint64> from = numbers(current);
    const QList<qint64> to = numbers(latest);
    if (from.isEmpty() || to.isEmpty())
        return VersionBump::other;
    if (from[0] < to[0])
        return VersionBump::major;
    if (from.size() > 1 && to.size() > 1 && from[1] < to[1])
        return VersionBump::minor;
    if (from.size() > 2 && to.size() > 2 && from[2] < to[2])
        return VersionBump::patch;
    return current == latest ? VersionBump::other : VersionBump::patch;
}

} // namespace halvik::VersionBumps
