#include "OriginClient.h"

#include "GitHubCLI.h"
#include "SourceControlErrors.h"

#include "gitcore/GitHosts.h"
#include "services/ProcessRunner.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <nlohmann/json.hpp>

namespace halvik {

using gitcore::GitHosts;

namespace {

QString text(const char* value)
{
    return QString::fromUtf8(value);
}

QString orFallback(const QString& output, const char* fallback)
{
    const QString trimmed = output.trimmed();
    return trimmed.isEmpty() ? text(fallback) : trimmed;
}

} // namespace

OriginClient::OriginClient(ProcessRunner& runner) : m_runner(runner), m_candidates(defaultCandidates()) {}

QStringList OriginClient::defaultCandidates()
{
    return {QDir::homePath() + QStringLiteral("/.local/bin/origin"),
            QStringLiteral("/opt/homebrew/bin/origin"), QStringLiteral("/usr/local/bin/origin")};
}

std::optional<QString> OriginClient::cliPath() const
{
    for (const QString& candidate : m_candidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return candidate;
    }
    return std::nullopt;
}

QString OriginClient::requireCLI() const
{
    const auto path = cliPath();
    if (!path)
        throw OriginClientError::cliMissing();
    return *path;
}

QCoro::Task<ProcessResult> OriginClient::run(QStringList arguments, CancellationToken cancel)
{
    ProcessRequest request;
    request.executable = requireCLI();
    request.arguments = arguments;
    request.extraPath = GitHubCLI::searchPathAdditions();
    co_return co_await m_runner.run(request, {}, cancel);
}

QCoro::Task<> OriginClient::install()
{
    ProcessRequest request;
    request.executable = m_shell;
    request.arguments = QStringList{
        QStringLiteral("-c"), QStringLiteral("curl -fsSL '%1' | sh").arg(GitHosts::originInstallScriptURL())};
    request.extraPath = GitHubCLI::searchPathAdditions();
    const ProcessResult result = co_await m_runner.run(request);
    if (result.exitCode != 0 || !cliPath())
        throw OriginClientError::failed(orFallback(result.combined(), "Origin CLI install failed."));
}

QString OriginClient::parseLogin(const QString& output)
{
    static const QRegularExpression loggedIn(QStringLiteral("logged in as @?([A-Za-z0-9._-]+)"),
                                             QRegularExpression::CaseInsensitiveOption);
    QStringList remaining;
    for (const QString& raw : output.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty())
            continue;
        if (line.contains(QLatin1String("not logged in"), Qt::CaseInsensitive))
            throw OriginClientError::notLoggedIn();
        const auto match = loggedIn.match(line);
        if (match.hasMatch()) {
            QString name = match.captured(1);
            while (name.startsWith(QLatin1Char('@')))
                name.remove(0, 1);
            return name;
        }
        remaining << line;
    }
    for (const QString& line : std::as_const(remaining))
        if (line.size() < 65 && !line.contains(QLatin1Char(' ')))
            return line.startsWith(QLatin1Char('@')) ? line.mid(1) : line;
    throw OriginClientError::failed(text("Couldn’t read Origin login."));
}

QCoro::Task<QString> OriginClient::authenticatedUser()
{
    const QStringList args{QStringLiteral("auth"), QStringLiteral("status")};
    const ProcessResult result = co_await run(args);
    co_return parseLogin(result.combined());
}

QCoro::Task<QString> OriginClient::login(CancellationToken cancel)
{
    const QStringList loginArgs{QStringLiteral("auth"), QStringLiteral("login")};
    const ProcessResult signIn = co_await run(loginArgs, cancel);
    if (signIn.exitCode != 0)
        throw OriginClientError::failed(orFallback(signIn.combined(), "Origin sign-in didn’t finish."));
    const QStringList setupArgs{QStringLiteral("auth"), QStringLiteral("setup-git")};
    const ProcessResult setup = co_await run(setupArgs, cancel);
    if (setup.exitCode != 0)
        throw OriginClientError::failed(orFallback(setup.combined(), "Origin sign-in didn’t finish."));
    co_return co_await authenticatedUser();
}

QCoro::Task<> OriginClient::logout()
{
    try {
        const QStringList args{QStringLiteral("auth"), QStringLiteral("logout")};
        co_await run(args);
    } catch (const HalvikError&) {
    }
}

std::optional<QPair<QString, QString>> OriginClient::parseCreatedRepo(const QString& output)
{
    const QString host = QRegularExpression::escape(GitHosts::originGitHost());
    const QRegularExpression afterHost(host + QStringLiteral("/([A-Za-z0-9._-]+)/([A-Za-z0-9._-]+)"),
                                       QRegularExpression::CaseInsensitiveOption);
    auto match = afterHost.match(output);
    if (!match.hasMatch()) {
        static const QRegularExpression pair(QStringLiteral("\\b([A-Za-z0-9._-]+)/([A-Za-z0-9._-]+)\\b"));
        match = pair.match(output);
    }
    if (!match.hasMatch())
        return std::nullopt;
    QString name = match.captured(2);
    if (name.endsWith(QLatin1String(".git")))
        name.chop(4);
    return QPair<QString, QString>(match.captured(1), name);
}

GitRemoteRepository OriginClient::repository(const QString& org, const QString& name)
{
    GitRemoteRepository repo;
    repo.name = name;
    repo.fullName = org + QLatin1Char('/') + name;
    repo.cloneURL = GitHosts::originWebRoot() + QLatin1Char('/') + repo.fullName + QStringLiteral(".git");
    repo.htmlURL = GitHosts::cursorWebRoot() + QStringLiteral("/codebase/") + repo.fullName;
    return repo;
}

QCoro::Task<GitRemoteRepository> OriginClient::createRepository(QString name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        throw OriginClientError::failed(text("Repository name is empty."));
    const QStringList createArgs{QStringLiteral("repo"), QStringLiteral("create"), trimmed};
    const ProcessResult created = co_await run(createArgs);
    if (created.exitCode != 0)
        throw OriginClientError::failed(orFallback(created.combined(), "Couldn’t create the Origin repo."));
    if (const auto pair = parseCreatedRepo(created.combined()))
        co_return repository(pair->first, pair->second);

    const QStringList viewArgs{QStringLiteral("repo"), QStringLiteral("view"), trimmed,
                               QStringLiteral("--json"), QStringLiteral("org,name")};
    const ProcessResult viewed = co_await run(viewArgs);
    const QByteArray bytes = viewed.stdout.text().toUtf8();
    const auto object =
        nlohmann::json::parse(bytes.constData(), bytes.constData() + bytes.size(), nullptr, false);
    if (viewed.exitCode == 0 && object.is_object()) {
        QString org;
        for (const char* key : {"org", "owner", "namespace"}) {
            const auto it = object.find(key);
            if (it != object.end() && it->is_string() && !it->get<std::string>().empty()) {
                org = QString::fromStdString(it->get<std::string>());
                break;
            }
        }
        QString repoName = trimmed;
        const auto nameIt = object.find("name");
        if (nameIt != object.end() && nameIt->is_string() && !nameIt->get<std::string>().empty())
            repoName = QString::fromStdString(nameIt->get<std::string>());
        if (!org.isEmpty())
            co_return repository(org, repoName);
    }
    throw OriginClientError::failed(text("Created the repo but couldn’t read its URL."));
}

} // namespace halvik
