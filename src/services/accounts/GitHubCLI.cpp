#include "GitHubCLI.h"

#include "SourceControlErrors.h"

#include "gitcore/GitHosts.h"
#include "platform/PlatformTexts.h"
#include "services/ProcessRunner.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace halvik {

namespace {

bool isExecutable(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QString home(const char* relative)
{
    return QDir::homePath() + QLatin1Char('/') + QLatin1String(relative);
}

QMap<QString, QString> noPrompt()
{
    return {{QStringLiteral("GH_PROMPT_DISABLED"), QStringLiteral("1")}};
}

} // namespace

GitHubCLI::GitHubCLI(ProcessRunner& runner)
    : m_runner(runner), m_candidates(defaultCandidates()), m_brewCandidates(defaultBrewCandidates())
{
}

QStringList GitHubCLI::defaultCandidates()
{
    return {QStringLiteral("/opt/homebrew/bin/gh"), QStringLiteral("/usr/local/bin/gh"),
            home(".local/bin/gh"), QStringLiteral("/home/linuxbrew/.linuxbrew/bin/gh"),
            QStringLiteral("/usr/bin/gh")};
}

QStringList GitHubCLI::defaultBrewCandidates()
{
    return {QStringLiteral("/opt/homebrew/bin/brew"), QStringLiteral("/usr/local/bin/brew"),
            QStringLiteral("/home/linuxbrew/.linuxbrew/bin/brew"), home(".linuxbrew/bin/brew")};
}

QStringList GitHubCLI::searchPathAdditions()
{
    return {home(".local/bin"), QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin"),
            QStringLiteral("/home/linuxbrew/.linuxbrew/bin")};
}

std::optional<QString> GitHubCLI::cliPath() const
{
    for (const QString& candidate : m_candidates)
        if (isExecutable(candidate))
            return candidate;
    if (m_searchPath) {
        const QString found = QStandardPaths::findExecutable(QStringLiteral("gh"));
        if (!found.isEmpty())
            return found;
    }
    return std::nullopt;
}

std::optional<QString> GitHubCLI::brewPath() const
{
    for (const QString& candidate : m_brewCandidates)
        if (isExecutable(candidate))
            return candidate;
    return std::nullopt;
}

QCoro::Task<ProcessResult> GitHubCLI::run(QString executable, QStringList arguments, CancellationToken cancel,
                                          QMap<QString, QString> environment)
{
    ProcessRequest request;
    request.executable = executable;
    request.arguments = arguments;
    request.environment = environment;
    request.extraPath = searchPathAdditions();
    co_return co_await m_runner.run(request, {}, cancel);
}

QCoro::Task<> GitHubCLI::install()
{
    const auto brew = brewPath();
    if (!brew)
        throw GitHubCLIError::failed(PlatformTexts::text(PlatformTexts::Word::githubCLIWithoutHomebrew));
    const QStringList args{QStringLiteral("install"), QStringLiteral("gh")};
    const QMap<QString, QString> env{{QStringLiteral("HOMEBREW_NO_AUTO_UPDATE"), QStringLiteral("1")},
                                     {QStringLiteral("NONINTERACTIVE"), QStringLiteral("1")}};
    const ProcessResult result = co_await run(*brew, args, {}, env);
    if (result.exitCode != 0 || !cliPath()) {
        const QString output = result.combined().trimmed();
        throw GitHubCLIError::failed(output.isEmpty() ? QStringLiteral("Couldn’t install GitHub CLI.")
                                                      : output);
    }
}

QCoro::Task<QString> GitHubCLI::token()
{
    const auto gh = cliPath();
    if (!gh)
        throw GitHubCLIError::notLoggedIn();
    const QStringList args{QStringLiteral("auth"), QStringLiteral("token"), QStringLiteral("--hostname"),
                           gitcore::GitHosts::githubHost()};
    const ProcessResult result = co_await run(*gh, args, {}, noPrompt());
    const QString value = result.stdout.text().trimmed();
    if (result.exitCode != 0 || value.isEmpty())
        throw GitHubCLIError::notLoggedIn();
    co_return value;
}

QCoro::Task<QString> GitHubCLI::login(CancellationToken cancel)
{
    const auto gh = cliPath();
    if (!gh)
        throw GitHubCLIError::cliMissing();
    try {
        co_return co_await token();
    } catch (const GitHubCLIError&) {
    }
    const QStringList args{QStringLiteral("auth"),
                           QStringLiteral("login"),
                           QStringLiteral("--hostname"),
                           gitcore::GitHosts::githubHost(),
                           QStringLiteral("--git-protocol"),
                           QStringLiteral("https"),
                           QStringLiteral("--web"),
                           QStringLiteral("--scopes"),
                           QStringLiteral("repo,workflow,read:packages")};
    const ProcessResult result = co_await run(*gh, args, cancel, noPrompt());
    if (result.exitCode != 0) {
        const QString output = result.combined().trimmed();
        throw GitHubCLIError::failed(output.isEmpty() ? QStringLiteral("GitHub sign-in didn’t finish.")
                                                      : output);
    }
    co_return co_await token();
}

} // namespace halvik
