#include "DeployJob.h"

namespace halvik {

DeployJob::DeployJob(SitePtr site, DeploymentPtr deployment, QObject* parent)
    : QObject(parent), m_site(std::move(site)), m_deployment(std::move(deployment))
{
}

QString DeployJob::composeLog(const QString& steps, const QString& output)
{
    if (output.isEmpty())
        return steps;
    return steps + QLatin1Char('\n') + QLatin1String(outputMarker) + QLatin1Char('\n') + output;
}

QString DeployJob::stepsOf(const QString& log)
{
    const QString marker = QLatin1Char('\n') + QLatin1String(outputMarker) + QLatin1Char('\n');
    const qsizetype at = log.indexOf(marker);
    return at < 0 ? log : log.left(at);
}

void DeployJob::addLine(const QString& line)
{
    m_lines << line;
    m_deployment->appendLine(line);
    Q_EMIT lineAdded(line);
}

void DeployJob::setProviderStatus(const QString& status)
{
    if (status == m_providerStatus)
        return;
    m_providerStatus = status;
    m_deployment->setStatus(status);
    Q_EMIT providerStatusChanged(status);
}

void DeployJob::setOutput(const QString& output)
{
    m_deployment->setLog(composeLog(m_lines.join(QLatin1Char('\n')), output));
    Q_EMIT outputChanged(output);
}

void DeployJob::finish(Outcome outcome, std::optional<QString> error)
{
    if (isFinished())
        return;
    m_outcome = outcome;
    m_error = std::move(error);
    Q_EMIT finished();
}

} // namespace halvik
