#include "CloneJob.h"

#include <algorithm>

namespace halvik {

namespace CloneSteps {

QString toRaw(CloneStep step)
{
    switch (step) {
    case CloneStep::copy:
        return QStringLiteral("copy");
    case CloneStep::configure:
        return QStringLiteral("configure");
    case CloneStep::linkHerd:
        return QStringLiteral("linkHerd");
    case CloneStep::done:
        break;
    }
    return QStringLiteral("done");
}

QString label(CloneStep step)
{
    switch (step) {
    case CloneStep::copy:
        return QStringLiteral("Copy files");
    case CloneStep::configure:
        return QStringLiteral("Configure");
    case CloneStep::linkHerd:
        return QStringLiteral("Link local site");
    case CloneStep::done:
        break;
    }
    return QStringLiteral("Ready");
}

} // namespace CloneSteps

CloneJob::CloneJob(QUuid siteID, QString siteName, QObject* parent)
    : QObject(parent), m_siteID(siteID), m_siteName(std::move(siteName))
{
}

QString CloneJob::stepLabel() const
{
    if (m_isFinished && !m_succeeded)
        return QStringLiteral("Failed");
    return CloneSteps::label(m_step);
}

void CloneJob::appendLine(const QString& line)
{
    if (m_isFinished)
        return;
    const bool first = m_log.isEmpty();
    if (!first)
        m_log += QLatin1Char('\n');
    m_log += line;
    Q_EMIT logAppended(line, first);
}

void CloneJob::setStep(CloneStep step, double fraction)
{
    m_step = step;
    m_fraction = std::max(m_fraction, fraction);
    Q_EMIT progressChanged();
}

void CloneJob::setFraction(double fraction)
{
    if (fraction <= m_fraction || m_isFinished)
        return;
    m_fraction = fraction;
    Q_EMIT progressChanged();
}

void CloneJob::finish(bool succeeded, std::optional<QString> errorMessage)
{
    if (m_isFinished)
        return;
    m_isFinished = true;
    m_succeeded = succeeded;
    m_errorMessage = std::move(errorMessage);
    if (succeeded) {
        m_step = CloneStep::done;
        m_fraction = 1.0;
    }
    Q_EMIT progressChanged();
    Q_EMIT finished();
}

} // namespace halvik
