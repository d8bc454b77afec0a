#include "GitHubDeploySource.h"

#include "async/HalvikError.h"
#include "services/accounts/SourceControlService.h"
#include "services/git/GitService.h"

namespace halvik {

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

GitHubDeploySource::GitHubDeploySource(GitService& git, SourceControlService& sourceControl, QString provider)
    : m_git(git), m_sourceControl(sourceControl), m_provider(std::move(provider))
{
}

QString GitHubDeploySource::unpushedSentence(int commits, const QString& provider)
{
    if (commits == 1)
        return s("1 local commit isn’t on GitHub yet; %1 deploys what’s on GitHub.").arg(provider);
    return s("%1 local commits aren’t on GitHub yet; %2 deploys what’s on GitHub.")
        .arg(commits)
        .arg(provider);
}

QCoro::Task<> GitHubDeploySource::prepare(SitePtr site, QString repositoryName, bool isPrivate,
                                          Progress progress, CancellationToken cancel)
{
    if (site->githubRepo())
        co_return;
    const bool isRepository = GitService::isRepository(site->path());
    if (isRepository && co_await m_git.currentRemote(site)) {
        const auto slug = co_await m_git.discoverGitHubRepo(site);
        if (!slug)
            throw HalvikError(
                s("This site’s origin isn’t on GitHub. %1 deploys from GitHub.").arg(m_provider));
        progress(s("Pushing %1…").arg(*slug));
        co_await pushHeadToMain(site, cancel);
        co_return;
    }
    if (!m_sourceControl.isConnected(SourceControlProvider::github))
        throw HalvikError(s("No GitHub repository available."));
    cancel.throwIfCancelled();

    progress(s("Creating GitHub repository…"));
    const GitRemoteRepository repo =
        co_await m_sourceControl.createRepository(SourceControlProvider::github, repositoryName, isPrivate);
    cancel.throwIfCancelled();
    progress(s("Pushing %1…").arg(repo.fullName));
    const QString message = s(initialCommitMessage);
    const bool hasCommits = isRepository && co_await m_git.hasCommits(site);
    if (!isRepository) {
        co_await m_git.initialize(site);
        co_await m_git.commit(site, std::nullopt, message);
    } else if (!hasCommits) {
        co_await m_git.commit(site, std::nullopt, message);
    } else {
        const auto snapshot = co_await m_git.snapshot(site, 0, 0);
        const qsizetype left = snapshot.files.size();
        if (left == 1)
            progress(s("1 uncommitted change was left out; %1 deploys your commits.").arg(m_provider));
        else if (left > 1)
            progress(s("%1 uncommitted changes were left out; %2 deploys your commits.")
                         .arg(left)
                         .arg(m_provider));
    }
    co_await m_git.addOrigin(site, repo.cloneURL);
    co_await pushHeadToMain(site, cancel);
    site->setGithubRepo(repo.fullName);
}

QCoro::Task<> GitHubDeploySource::pushHeadToMain(SitePtr site, CancellationToken cancel)
{
    const auto auth = co_await m_git.credentialEnvironment(site);
    GitService& git = m_git;
    const std::function<QCoro::Task<>()> body = [&git, site, auth, cancel]() -> QCoro::Task<> {
        const QStringList args{s("push"), s("origin"), s("HEAD:refs/heads/main")};
        co_await git.gitRunLogged(site, args, false, std::nullopt, auth, cancel);
    };
    co_await m_git.mutate(site, body, cancel);
}

QCoro::Task<std::optional<int>> GitHubDeploySource::commitsNotOnGitHub(SitePtr site)
{
    if (!GitService::isRepository(site->path()))
        co_return std::nullopt;
    try {
        const auto auth = co_await m_git.credentialEnvironment(site);
        const QStringList fetch{s("fetch"), s("origin"), s("main")};
        const auto fetched = co_await m_git.gitRun(site, fetch, auth);
        if (fetched.exitCode != 0)
            co_return std::nullopt;
        const QStringList count{s("rev-list"), s("--count"), s("FETCH_HEAD..HEAD")};
        const auto counted = co_await m_git.gitRun(site, count);
        bool ok = false;
        const int commits = counted.stdout.text().trimmed().toInt(&ok);
        if (counted.exitCode != 0 || !ok)
            co_return std::nullopt;
        co_return commits;
    } catch (const HalvikError&) {
        co_return std::nullopt;
    }
}

} // namespace halvik
