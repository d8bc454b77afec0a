#include "GitServiceError.h"

#include "platform/PlatformTexts.h"

namespace halvik {

GitServiceError GitServiceError::failed(const QString& message)
{
    // A push of workflow files with a token that may not write them: say what to do about it.
    if (message.contains(QLatin1String("without `workflow` scope")) ||
        message.contains(QLatin1String("without 'workflow' scope"))) {
        return {Case::failed,
                QStringLiteral("The GitHub repo was created, but the push needs permission to write GitHub "
                               "Actions workflows. Reconnect GitHub under Source Control, then push again."),
                message};
    }
    return {Case::failed, message, message};
}

GitServiceError GitServiceError::rebaseConflict(const QString& details)
{
    return {Case::rebaseConflict,
            QStringLiteral("Your changes and the ones on the remote touch the same files. Resolve them, then "
                           "Continue Rebase \u2014 or Abort Rebase to go back.\n\n") +
                details,
            details};
}

GitServiceError GitServiceError::dirtyWorktree()
{
    return {Case::dirtyWorktree,
            QStringLiteral("Uncommitted changes would be overwritten by switching branches.")};
}

GitServiceError GitServiceError::gitMissing()
{
    return {Case::gitMissing, PlatformTexts::text(PlatformTexts::Word::gitNotFound)};
}

GitServiceError GitServiceError::identityMissing()
{
    return {Case::identityMissing,
            QStringLiteral("Git needs your name and email before it can save changes.")};
}

GitServiceError GitServiceError::needsPull()
{
    return {Case::needsPull,
            QStringLiteral("The remote has newer changes \u2014 Pull will bring them in first.")};
}

GitServiceError GitServiceError::rebaseInProgress()
{
    return {Case::rebaseInProgress,
            QStringLiteral("A rebase is already in progress. Continue or abort it before pulling again.")};
}

GitServiceError GitServiceError::nothingStaged()
{
    return {Case::nothingStaged, QStringLiteral("Nothing is included to save.")};
}

GitServiceError GitServiceError::conflicted(const QString& sentence, const QString& details)
{
    return GitServiceError(Case::conflicted, sentence, details);
}

} // namespace halvik
