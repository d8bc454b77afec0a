#include "InstallJob.h"

#include <QRegularExpression>

#include <algorithm>

namespace halvik {

InstallJob::InstallJob(QUuid siteID, QString siteName, QObject* parent)
    : QObject(parent), m_siteID(siteID), m_siteName(std::move(siteName))
{
}

void InstallJob::appendLine(const QString& line)
{
    if (m_isFinished)
        return;
    const bool first = m_log.isEmpty();
    if (!first)
        m_log += QLatin1Char('\n');
    m_log += line;
    Q_EMIT logAppended(line, first);
}

void InstallJob::raiseFraction(double fraction)
{
    // Composer's own announcements can point lower than where the bar already stands (the
    // pinning run starts again from its step's base); the bar never goes back.
    m_fraction = std::max(m_fraction, std::min(fraction, 1.0));
}

void InstallJob::enterStep(InstallStep step, std::optional<double> fraction)
{
    m_step = step;
    raiseFraction(fraction.value_or(InstallSteps::baseFraction(step)));
    Q_EMIT progressChanged();
}

void InstallJob::noteComposerLine(InstallStep step, const QString& line)
{
    static const QRegularExpression announced(QStringLiteral("Package operations:\\s+(\\d+)\\s+installs?"));
    if (m_isFinished)
        return;
    m_step = step;
    if (const auto match = announced.match(line); match.hasMatch()) {
        m_packagesTotal = match.captured(1).toInt();
        m_packagesDone = 0;
    } else if (line.contains(QLatin1String("- Installing "))) {
        ++m_packagesDone;
    }
    const double base = InstallSteps::baseFraction(step);
    if (!m_packagesTotal || *m_packagesTotal <= 0) {
        raiseFraction(base);
    } else {
        const double span = step == InstallStep::dependencies ? 0.35 : 0.18;
        raiseFraction(base + span * std::min(double(m_packagesDone) / *m_packagesTotal, 1.0));
    }
    Q_EMIT progressChanged();
}

void InstallJob::finish(bool succeeded, std::optional<QString> errorMessage)
{
    if (m_isFinished)
        return;
    m_isFinished = true;
    m_succeeded = succeeded;
    m_errorMessage = std::move(errorMessage);
    if (succeeded) {
        m_step = InstallStep::done;
        m_fraction = 1.0;
    }
    Q_EMIT progressChanged();
    Q_EMIT finished();
}

} // namespace halvik
