#pragma once

#include "async/Cancellation.h"
#include "models/Site.h"

#include <QCoroTask>

#include <functional>
#include <optional>

namespace halvik {

class GitService;
class SourceControlService;

// Puts a site's code on GitHub's `main`, where a host deploys it from, whatever the local
// branch is called: a folder without Git is initialised and committed, a repository pushes
// its HEAD; an origin already on GitHub is reused, any other origin stops the run.
class GitHubDeploySource
{
public:
    using Progress = std::function<void(const QString&)>;

    GitHubDeploySource(GitService& git, SourceControlService& sourceControl,
                       QString provider = QStringLiteral("Forge"));

    static constexpr auto initialCommitMessage = "Initial commit from Halvik";

    // Nothing happens for a site that already names its GitHub repository. Sets githubRepo.
    QCoro::Task<> prepare(SitePtr site, QString repositoryName, bool isPrivate, Progress progress,
                          CancellationToken cancel = {});
    // How many local commits GitHub's main lacks; nothing when that can't be told.
    QCoro::Task<std::optional<int>> commitsNotOnGitHub(SitePtr site);

    // "2 local commits aren’t on GitHub yet; Forge deploys what’s on GitHub."
    static QString unpushedSentence(int commits, const QString& provider);

private:
    QCoro::Task<> pushHeadToMain(SitePtr site, CancellationToken cancel);

    GitService& m_git;
    SourceControlService& m_sourceControl;
    // The host named in the sentences ("Forge deploys from GitHub.").
    QString m_provider;
};

} // namespace halvik
