#include "UpdateChecker.h"

#include "services/runtime/HttpFetcher.h"

namespace halvik {

bool UpdateCheckResult::isUpdateAvailable() const
{
    return ReleaseFeed::compareVersions(latest.version, currentVersion) > 0;
}

QString UpdateCheckResult::message() const
{
    return isUpdateAvailable() ? QStringLiteral("Halvik %1 is available.").arg(latest.version)
                               : QStringLiteral("Halvik is up to date.");
}

UpdateChecker::UpdateChecker(QString currentVersion, int timeoutMs)
    : m_currentVersion(std::move(currentVersion)), m_timeoutMs(timeoutMs)
{
}

QUrl UpdateChecker::feedUrl()
{
    const QString configured = qEnvironmentVariable("HALVIK_UPDATES_URL").trimmed();
    return QUrl(configured.isEmpty() ? QStringLiteral("https://halvik.app/releases/latest.json")
                                     : configured);
}

QCoro::Task<UpdateCheckResult> UpdateChecker::check(CancellationToken token)
{
    HttpFetcher fetcher(m_timeoutMs);
    HttpFetcher::Reply reply;
    try {
        reply = co_await fetcher.get(feedUrl(), token);
    } catch (const HttpFetchError&) {
        throw UpdateCheckError::unreachable();
    }
    if (!reply.ok())
        throw UpdateCheckError::httpStatus(reply.status);
    co_return UpdateCheckResult{ReleaseFeed::parse(reply.body), m_currentVersion};
}

bool UpdateChecker::isWeeklyCheckDue(bool enabled, const QDateTime& lastCheck, const QDateTime& now)
{
    if (!enabled)
        return false;
    return !lastCheck.isValid() || lastCheck.secsTo(now) >= 7 * 24 * 3600 || lastCheck > now;
}

} // namespace halvik
