#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace halvik {

// One whole-site `composer update`: its log, its result and an estimate of how far it got.
// Main thread.
class PackageUpdateJob : public QObject
{
    Q_OBJECT
public:
    // While running, the estimate never goes past this.
    static constexpr double runningCeiling = 0.92;

    explicit PackageUpdateJob(QUuid siteID, QObject* parent = nullptr);

    QUuid siteID() const { return m_siteID; }
    const QString& log() const { return m_log; }
    bool isFinished() const { return m_isFinished; }
    bool succeeded() const { return m_succeeded; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }
    QDateTime startedAt() const { return m_startedAt; }
    std::optional<QDateTime> finishedAt() const { return m_finishedAt; }
    double fractionComplete() const { return m_fractionComplete; }

    // Lines handled per turn of the event loop while a backlog drains.
    static constexpr qsizetype linesPerTurn = 2000;

    // How far one line of Composer's output moves the estimate towards the end.
    static double weight(QStringView line);

    // Adds one line, or several joined by line feeds, to the log at once (after any backlog);
    // lines that arrive after the job finished are dropped.
    void appendLine(const QString& line);
    void appendLines(const QString& lines);
    // Queues lines that arrive faster than the window can show them: they are added a slice
    // per turn of the event loop, so a flood of output never holds up the main thread.
    void enqueueLines(const QString& lines);
    bool hasBacklog() const { return !m_backlog.isEmpty(); }
    // Adds everything queued now.
    void drainBacklog();
    // Sets the result and the estimate to 1. A finished job stays as it is.
    void finish(bool succeeded, std::optional<QString> errorMessage = std::nullopt);

Q_SIGNALS:
    // `text` is what was added: one or more lines joined by line feeds; `first` when it starts
    // the log.
    void logAppended(const QString& text, bool first);
    void progressChanged(double fraction);
    void finished();
    // The backlog became empty.
    void drained();

private:
    // Adds the lines in `text` (joined by line feeds) and announces them.
    void add(QStringView text);
    void drainSlice();

    QList<QString> m_backlog;      // batches of whole lines, oldest first
    qsizetype m_backlogOffset = 0; // where the front batch's next line starts
    bool m_drainScheduled = false;
    QUuid m_siteID;
    QString m_log;
    bool m_isFinished = false;
    bool m_succeeded = false;
    std::optional<QString> m_errorMessage;
    QDateTime m_startedAt;
    std::optional<QDateTime> m_finishedAt;
    double m_fractionComplete = 0.0;
};

} // namespace halvik
