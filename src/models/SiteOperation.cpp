#include "SiteOperation.h"

namespace halvik {

SiteOperation::SiteOperation(QString command, OperationKind kind)
    : m_id(QUuid::createUuid()), m_command(std::move(command)),
      m_startedAt(QDateTime::currentDateTimeUtc()), m_kindRaw(toRaw(kind))
{
}

SiteOperation::SiteOperation(QUuid id, QString command, QString kindRaw, QDateTime startedAt)
    : m_id(id), m_command(std::move(command)), m_startedAt(std::move(startedAt)), m_kindRaw(std::move(kindRaw))
{
}

void SiteOperation::appendLine(const QString& line)
{
    if (m_log.isEmpty()) {
        if (line.isEmpty())
            return;
        m_log = line;
    }
    else {
        // Two appends, no temporary: logs run to many megabytes and arrive in batches.
        m_log.append(QLatin1Char('\n'));
        m_log.append(line);
    }
    Q_EMIT changed();
}

} // namespace halvik
