#include "PackageUpdateJob.h"

#include <QStringMatcher>

#include <algorithm>
#include <utility>

namespace halvik {

PackageUpdateJob::PackageUpdateJob(QUuid siteID, QObject* parent)
    : QObject(parent), m_siteID(siteID), m_startedAt(QDateTime::currentDateTimeUtc())
{
}

double PackageUpdateJob::weight(QStringView line)
{
    if (line.trimmed().isEmpty())
        return 0.0;
    // Matchers built once: a case-insensitive search per needle and line is the hot path when
    // Composer floods the log.
    static const QStringMatcher lockFile(u"lock file", Qt::CaseInsensitive);
    static const QStringMatcher loadingComposer(u"loading composer", Qt::CaseInsensitive);
    static const QStringMatcher generatingOptimized(u"generating optimized", Qt::CaseInsensitive);
    static const QStringMatcher packageDiscovery(u"package discovery", Qt::CaseInsensitive);
    const auto has = [line](const QStringMatcher& matcher) { return matcher.indexIn(line) >= 0; };
    const auto startsWith = [line](const char* prefix) {
        return line.startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
    };
    if (has(lockFile) || has(loadingComposer))
        return 0.04;
    if (startsWith("updating ") || startsWith("upgrading "))
        return 0.06;
    if (startsWith("downloading ") || startsWith("installing ") || startsWith("removing ") ||
        startsWith("downgrading "))
        return 0.05;
    if (has(generatingOptimized))
        return 0.08;
    if (has(packageDiscovery))
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
    drainBacklog();
    add(lines);
}

void PackageUpdateJob::enqueueLines(const QString& lines)
{
    if (m_isFinished)
        return;
    // Batches are kept as they came (shared, not copied) and split only when drained.
    m_backlog.append(lines);
    if (!m_drainScheduled) {
        m_drainScheduled = true;
        QMetaObject::invokeMethod(this, &PackageUpdateJob::drainSlice, Qt::QueuedConnection);
    }
}

void PackageUpdateJob::drainSlice()
{
    m_drainScheduled = false;
    if (!hasBacklog())
        return;
    // Up to linesPerTurn lines from the front batch: [start, end).
    const QString front = m_backlog.first();
    const qsizetype start = m_backlogOffset;
    qsizetype end = front.size();
    qsizetype from = start;
    for (qsizetype n = 0; n < linesPerTurn; ++n) {
        const qsizetype feed = front.indexOf(QLatin1Char('\n'), from);
        if (feed < 0) {
            end = front.size();
            break;
        }
        end = feed;
        from = feed + 1;
    }
    m_backlogOffset = end + 1;
    if (m_backlogOffset > front.size()) {
        m_backlog.removeFirst();
        m_backlogOffset = 0;
    }
    add(QStringView(front).mid(start, end - start));
    if (!hasBacklog()) {
        Q_EMIT drained();
    } else if (!m_drainScheduled) {
        m_drainScheduled = true;
        QMetaObject::invokeMethod(this, &PackageUpdateJob::drainSlice, Qt::QueuedConnection);
    }
}

void PackageUpdateJob::drainBacklog()
{
    if (!hasBacklog())
        return;
    const QList<QString> batches = std::exchange(m_backlog, {});
    const qsizetype offset = std::exchange(m_backlogOffset, 0);
    for (qsizetype i = 0; i < batches.size(); ++i)
        add(i == 0 ? QStringView(batches[i]).mid(offset) : QStringView(batches[i]));
    Q_EMIT drained();
}

void PackageUpdateJob::add(QStringView lines)
{
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
    Q_EMIT logAppended(lines.toString(), first);
    if (fraction != before)
        Q_EMIT progressChanged(fraction);
}

void PackageUpdateJob::finish(bool succeeded, std::optional<QString> errorMessage)
{
    if (m_isFinished)
        return;
    drainBacklog();
    m_succeeded = succeeded;
    m_isFinished = true;
    m_errorMessage = std::move(errorMessage);
    m_finishedAt = QDateTime::currentDateTimeUtc();
    m_fractionComplete = 1.0;
    Q_EMIT progressChanged(m_fractionComplete);
    Q_EMIT finished();
}

} // namespace halvik
