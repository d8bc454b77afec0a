#include "gitcore/GitRepositoryProblem.h"

#include "gitcore/GitProblemTexts.h"
#include "gitcore/GitRemoteURL.h"

namespace halvik::gitcore {

GitRepositoryProblem::GitRepositoryProblem(const QString& output)
    : kind(classify(output)), details(GitRemoteURL::redactSecrets(output))
{
}

GitRepositoryProblem::GitRepositoryProblem(Kind problemKind, const QString& output)
    : kind(problemKind), details(GitRemoteURL::redactSecrets(output))
{
}

GitRepositoryProblem::Kind GitRepositoryProblem::classify(const QString& details)
{
    const QString text = details.toLower();
    if (text.contains(QLatin1String("xcode")) &&
        (text.contains(QLatin1String("license")) || text.contains(QLatin1String("licence"))))
        return Kind::xcodeLicense;
    if (text.contains(QLatin1String("invalid active developer path")) ||
        text.contains(QLatin1String("unable to find utility")) ||
        text.contains(QLatin1String("no developer tools were found")))
        return Kind::developerTools;
    return Kind::inaccessible;
}

QString GitRepositoryProblem::title() const
{
    return GitProblemTexts::forKind(kind).title;
}
QString GitRepositoryProblem::message() const
{
    return GitProblemTexts::forKind(kind).message;
}
std::optional<QString> GitRepositoryProblem::recoveryCommand() const
{
    return GitProblemTexts::forKind(kind).recoveryCommand;
}

QString GitRepositoryProblem::toRaw(Kind kind)
{
    return halvik::toRaw(kind);
}

std::optional<GitRepositoryProblem::Kind> GitRepositoryProblem::fromRaw(const QString& raw)
{
    return halvik::fromRaw<Kind>(raw);
}

} // namespace halvik::gitcore
