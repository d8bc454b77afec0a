#pragma once

#include <QDateTime>
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

    // How far one line of Composer's output moves the estimate towards the end.
    static double weight(const QString& line);

    // Adds one line, or several joined by line feeds, to the log; lines that arrive after the
    // job finished are dropped.
    void appendLine(const QString& line);
    void appendLines(const QString& lines);
    // Sets the result and the estimate to 1. A finished job stays as it is.
    void finish(bool succeeded, std::optional<QString> errorMessage = std::nullopt);

Q_SIGNALS:
    // `text` is what was added: one or more lines joined by line feeds; `first` when it starts
    // the log.
    void logAppended(const QString& text, bool first);
    void progressChanged(double fraction);
    void finished();

private:
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
