#include "GitLabClient.h"

#include "HttpJson.h"
#include "SourceControlErrors.h"

#include "gitcore/GitHosts.h"

namespace halvik {

using nlohmann::json;

namespace {

[[noreturn]] void throwFor(const HttpAnswer& answer)
{
    if (answer.status == 401)
        throw GitLabClientError::unauthorized();
    throw GitLabClientError::failed(answer.status, answer.text());
}

QUrl gitlabURL(const QString& path)
{
    return apiURL(gitcore::GitHosts::gitlabWebRoot(), QStringLiteral("/api/v4") + path);
}

} // namespace

QCoro::Task<QString> GitLabClient::authenticatedUser(QString token)
{
    const HttpHeaders headers{{"Authorization", "Bearer " + token.toUtf8()}};
    const HttpAnswer answer =
        co_await sendHttp(m_manager, "GET", gitlabURL(QStringLiteral("/user")), headers);
    if (!answer.isSuccess())
        throwFor(answer);
    const QString username = jsonString(answer.object().value_or(json::object()), "username");
    if (username.isEmpty())
        throw GitLabClientError::failed(answer.status, answer.text());
    co_return username;
}

QCoro::Task<GitRemoteRepository> GitLabClient::createRepository(QString name, bool isPrivate, QString token)
{
    const HttpHeaders headers{{"Authorization", "Bearer " + token.toUtf8()},
                              {"Content-Type", "application/json"}};
    const json body{{"name", name.toStdString()},
                    {"visibility", isPrivate ? "private" : "public"},
                    {"initialize_with_readme", false}};
    const HttpAnswer answer =
        co_await sendHttp(m_manager, "POST", gitlabURL(QStringLiteral("/projects")), headers, jsonBody(body));
    if (!answer.isSuccess())
        throwFor(answer);
    const json object = answer.object().value_or(json::object());
    GitRemoteRepository repo;
    repo.name = jsonString(object, "name");
    if (repo.name.isEmpty())
        repo.name = name;
    repo.fullName = jsonString(object, "path_with_namespace");
    repo.cloneURL = jsonString(object, "http_url_to_repo");
    repo.htmlURL = jsonString(object, "web_url");
    co_return repo;
}

} // namespace halvik
