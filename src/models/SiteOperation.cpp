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
        m_log += QLatin1Char('\n') + line;
    }
    Q_EMIT changed();
}

} // namespace halvik
