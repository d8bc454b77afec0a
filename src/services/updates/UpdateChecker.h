#pragma once

#include "ReleaseFeed.h"

#include "async/Cancellation.h"

#include <QCoroTask>
#include <QDateTime>

namespace halvik {

// What one look at the release feed found.
struct UpdateCheckResult
{
    Release latest;
    QString currentVersion;

    bool isUpdateAvailable() const;
    // "Halvik x.y.z is available." or "Halvik is up to date."
    QString message() const;
};

// Looks at the release feed for a newer Halvik. On Linux that is the whole update framework:
// the person downloads the new release from the page the feed names.
class UpdateChecker
{
public:
    explicit UpdateChecker(QString currentVersion = QStringLiteral(HALVIK_VERSION), int timeoutMs = 15000);

    // The feed: HALVIK_UPDATES_URL when set, otherwise the project's own.
    static QUrl feedUrl();

    // Reads the feed once. Throws UpdateCheckError with the one sentence to show when the
    // server cannot be reached, answers with an error, or answers with something else.
    QCoro::Task<UpdateCheckResult> check(CancellationToken token = {});

    // Whether a start-up check is due: asked for, and the last one a week or more ago (or none).
    static bool isWeeklyCheckDue(bool enabled, const QDateTime& lastCheck, const QDateTime& now);

private:
    QString m_currentVersion;
    int m_timeoutMs;
};

} // namespace halvik
