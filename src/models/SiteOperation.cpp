#include "SiteOperation.h"

namespace halvik {

SiteOperation::SiteOperation(QString command, OperationKind kind)
    : m_id(QUuid::createUuid()), m_command(std::move(command)), m_startedAt(QDateTime::currentDateTimeUtc()),
      m_kindRaw(toRaw(kind))
{
}

SiteOperation::SiteOperation(QUuid id, QString command, QString kindRaw, QDateTime startedAt)
    : m_id(id), m_command(std::move(command)), m_startedAt(std::move(startedAt)),
      m_kindRaw(std::move(kindRaw))
{
}

std::shared_ptr<SiteOperation> SiteOperation::fromRecord(const OperationRecord& record)
{
    auto op = std::make_shared<SiteOperation>(record.id, record.command, record.kindRaw, record.startedAt);
    op->m_fromStore = true;
    op->update(record);
    return op;
}

OperationRecord SiteOperation::record() const
{
    return OperationRecord{m_id,
                           m_command,
                           m_logIsStored ? m_storedLog
                                         : StoredText(StoredText::bounded(m_log, StoreLimits::logBytes)),
                           m_exitCode,
                           m_startedAt,
                           m_finishedAt,
                           m_kindRaw};
}

void SiteOperation::update(const OperationRecord& record)
{
    setCommand(record.command);
    setExitCode(record.exitCode);
    setFinishedAt(record.finishedAt);
    setKindRaw(record.kindRaw);
    if (!(m_logIsStored && m_storedLog == record.log)) {
        m_storedLog = record.log;
        m_logIsStored = true;
        m_log.clear();
        touch();
    }
}

QString SiteOperation::log() const
{
    return m_logIsStored ? m_storedLog.text() : m_log;
}

void SiteOperation::setLog(const QString& v)
{
    if (m_logIsStored) {
        m_logIsStored = false;
        m_storedLog = {};
        m_log = v;
        touch();
        return;
    }
    assign(m_log, v);
}

void SiteOperation::appendLine(const QString& line)
{
    if (m_logIsStored) {
        m_log = m_storedLog.text();
        m_storedLog = {};
        m_logIsStored = false;
    }
    if (m_log.isEmpty()) {
        if (line.isEmpty())
            return;
        m_log = line;
    } else {
        // Two appends, no temporary: logs run to many megabytes and arrive in batches.
        m_log.append(QLatin1Char('\n'));
        m_log.append(line);
    }
    touch();
}

} // namespace halvik
