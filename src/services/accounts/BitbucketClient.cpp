#include "BitbucketClient.h"

#include "HttpJson.h"
#include "SourceControlErrors.h"

#include "gitcore/GitHosts.h"

namespace halvik {

using gitcore::GitHosts;
using nlohmann::json;

namespace {

[[noreturn]] void throwFor(const HttpAnswer& answer)
{
    if (answer.status == 401)
        throw BitbucketClientError::unauthorized();
    throw BitbucketClientError::failed(answer.status, answer.text());
}

QString trimmedName(const std::optional<QString>& username)
{
    return username ? username->trimmed() : QString();
}

} // namespace

QString BitbucketClient::slug(const QString& name)
{
    return name.toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
}

QByteArray BitbucketClient::authorization(const QString& token, const std::optional<QString>& username)
{
    const QString user = trimmedName(username);
    if (user.isEmpty())
        return "Bearer " + token.toUtf8();
    return "Basic " + (user + QLatin1Char(':') + token).toUtf8().toBase64();
}

QCoro::Task<QString> BitbucketClient::authenticatedUser(QString token, std::optional<QString> username)
{
    const auto user = co_await authenticate(token, username);
    co_return user.name;
}

QCoro::Task<BitbucketClient::User> BitbucketClient::authenticate(QString token,
                                                                 std::optional<QString> username)
{
    const QUrl url = apiURL(GitHosts::bitbucketAPIRoot(), QStringLiteral("/2.0/user"));
    const HttpHeaders bearer{{"Authorization", authorization(token, std::nullopt)}};
    HttpAnswer answer = co_await sendHttp(m_manager, "GET", url, bearer);
    bool basicUsed = false;
    if (!answer.isSuccess()) {
        basicUsed = true;
        const QString user = trimmedName(username);
        if (user.isEmpty())
            throw BitbucketClientError::usernameRequired();
        const HttpHeaders basic{{"Authorization", authorization(token, user)}};
        answer = co_await sendHttp(m_manager, "GET", url, basic);
        if (!answer.isSuccess())
            throwFor(answer);
    }
    const json object = answer.object().value_or(json::object());
    QString name = jsonString(object, "username");
    if (name.isEmpty())
        name = jsonString(object, "nickname");
    if (name.isEmpty())
        throw BitbucketClientError::failed(answer.status, answer.text());
    co_return User{name, basicUsed};
}

QCoro::Task<GitRemoteRepository> BitbucketClient::createRepository(QString name, bool isPrivate,
                                                                   QString token,
                                                                   std::optional<QString> username)
{
    const User user = co_await authenticate(token, username);
    const QString workspace = user.name;
    const QString repoSlug = slug(name);
    const QUrl url =
        apiURL(GitHosts::bitbucketAPIRoot(),
               QStringLiteral("/2.0/repositories/") + QString::fromUtf8(QUrl::toPercentEncoding(workspace)) +
                   QLatin1Char('/') + QString::fromUtf8(QUrl::toPercentEncoding(repoSlug)));
    if (repoSlug.trimmed().isEmpty() || !url.isValid())
        throw HalvikError(QStringLiteral("Invalid repository name."));
    const HttpHeaders headers{{"Authorization", authorization(token, user.basic ? username : std::nullopt)},
                              {"Content-Type", "application/json"}};
    const json body{{"scm", "git"}, {"is_private", isPrivate}, {"name", name.toStdString()}};
    const HttpAnswer answer = co_await sendHttp(m_manager, "POST", url, headers, jsonBody(body));
    if (!answer.isSuccess())
        throwFor(answer);
    const json object = answer.object().value_or(json::object());
    GitRemoteRepository repo;
    repo.name = jsonString(object, "name");
    if (repo.name.isEmpty())
        repo.name = name;
    repo.fullName = jsonString(object, "full_name");
    const json links = object.value("links", json::object());
    if (links.is_object()) {
        repo.htmlURL = jsonString(links.value("html", json::object()), "href");
        const json clones = links.value("clone", json::array());
        if (clones.is_array())
            for (const auto& entry : clones)
                if (jsonString(entry, "name") == QLatin1String("https"))
                    repo.cloneURL = jsonString(entry, "href");
    }
    if (repo.cloneURL.isEmpty())
        repo.cloneURL =
            GitHosts::bitbucketWebRoot() + QLatin1Char('/') + repo.fullName + QStringLiteral(".git");
    co_return repo;
}

} // namespace halvik
