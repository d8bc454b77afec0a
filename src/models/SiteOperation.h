#pragma once

#include "Enums.h"
#include "Record.h"
#include "StoreRecords.h"

#include <QDateTime>
#include <QUuid>

#include <memory>
#include <optional>

namespace halvik {

// One command run against a site, with its streamed log.
class SiteOperation : public Record
{
    Q_OBJECT
public:
    SiteOperation(QString command, OperationKind kind);
    // For decoding: every field as stored.
    SiteOperation(QUuid id, QString command, QString kindRaw, QDateTime startedAt);
    // An operation read from the store (possibly written by another Halvik process).
    static std::shared_ptr<SiteOperation> fromRecord(const OperationRecord& record);

    // A plain copy for saving; a long log contributes only what the store keeps of it.
    OperationRecord record() const;
    // Takes the stored values of an operation this process only read.
    void update(const OperationRecord& record);
    // True for an operation that was read from the store rather than started here.
    bool isFromStore() const { return m_fromStore; }

    QUuid id() const { return m_id; }
    QString command() const { return m_command; }
    QString log() const;
    std::optional<int> exitCode() const { return m_exitCode; }
    QDateTime startedAt() const { return m_startedAt; }
    std::optional<QDateTime> finishedAt() const { return m_finishedAt; }
    QString kindRaw() const { return m_kindRaw; }
    std::optional<OperationKind> kind() const { return fromRaw<OperationKind>(m_kindRaw); }
    bool isRunning() const { return !m_finishedAt.has_value(); }

    void setCommand(const QString& v) { assign(m_command, v); }
    void setLog(const QString& v);
    void setExitCode(std::optional<int> v) { assign(m_exitCode, v); }
    void setFinishedAt(std::optional<QDateTime> v) { assign(m_finishedAt, v); }
    void setKindRaw(const QString& v) { assign(m_kindRaw, v); }
    // Adds a line: the line alone on an empty log, otherwise a line feed and the line.
    void appendLine(const QString& line);

private:
    QUuid m_id;
    QString m_command;
    QString m_log;          // the live text once the log was written here
    StoredText m_storedLog; // the text as read from the store, until the log changes
    bool m_logIsStored = false;
    bool m_fromStore = false;
    std::optional<int> m_exitCode;
    QDateTime m_startedAt;
    std::optional<QDateTime> m_finishedAt;
    QString m_kindRaw;
};

using SiteOperationPtr = std::shared_ptr<SiteOperation>;

} // namespace halvik
