#include "PackageUpdateJob.h"

#include <algorithm>

namespace halvik {

PackageUpdateJob::PackageUpdateJob(QUuid siteID, QObject* parent)
    : QObject(parent), m_siteID(siteID), m_startedAt(QDateTime::currentDateTimeUtc())
{
}

double PackageUpdateJob::weight(const QString& line)
{
    if (line.trimmed().isEmpty())
        return 0.0;
    const QString lower = line.toLower();
    const auto startsWith = [&lower](const char* prefix) { return lower.startsWith(QLatin1String(prefix)); };
    if (lower.contains(QLatin1String("lock file")) || lower.contains(QLatin1String("loading composer")))
        return 0.04;
    if (startsWith("updating ") || startsWith("upgrading "))
        return 0.06;
    if (startsWith("downloading ") || startsWith("installing ") || startsWith("removing ") ||
        startsWith("downgrading "))
        return 0.05;
    if (lower.contains(QLatin1String("generating optimized")))
        return 0.08;
    if (lower.contains(QLatin1String("package discovery")))
        return 0.08;
    if (line.startsWith(QLatin1String("$ ")))
        return 0.02;
    return 0.015;
}

void PackageUpdateJob::appendLine(const QString& line)
{
    appendLines(line);
}

void PackageUpdateJob::appendLines(const QString& lines)
{
    if (m_isFinished)
        return;
    const bool first = m_log.isEmpty();
    const double before = m_fractionComplete;
    double fraction = before;
    qsizetype start = 0;
    while (start <= lines.size()) {
        qsizetype end = lines.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = lines.size();
        const double w = weight(lines.mid(start, end - start));
        if (w > 0)
            fraction = std::min(fraction + w * (1.0 - fraction), runningCeiling);
        start = end + 1;
    }
    if (!first)
        m_log += QLatin1Char('\n');
    m_log += lines;
    m_fractionComplete = fraction;
    Q_EMIT logAppended(lines, first);
    if (fraction != before)
        Q_EMIT progressChanged(fraction);
}

void PackageUpdateJob::finish(bool succeeded, std::optional<QString> errorMessage)
{
    if (m_isFinished)
        return;
    m_succeeded = succeeded;
    m_isFinished = true;
    m_errorMessage = std::move(errorMessage);
    m_finishedAt = QDateTime::currentDateTimeUtc();
    m_fractionComplete = 1.0;
    Q_EMIT progressChanged(m_fractionComplete);
    Q_EMIT finished();
}

} // namespace halvik
