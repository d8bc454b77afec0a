#include "GitHubClient.h"

#include "HttpJson.h"
#include "SourceControlErrors.h"

#include "async/Sleep.h"
#include "gitcore/GitHosts.h"

#include <QRegularExpression>
#include <QSettings>

namespace halvik {

using gitcore::GitHosts;
using nlohmann::json;

namespace {

HttpHeaders apiHeaders(const QString& token)
{
    return {{"Authorization", "Bearer " + token.toUtf8()},
            {"Accept", "application/vnd.github+json"},
            {"Content-Type", "application/json"}};
}

HttpHeaders webHeaders()
{
    return {{"Accept", "application/json"}, {"Content-Type", "application/json"}};
}

[[noreturn]] void throwFor(const HttpAnswer& answer)
{
    if (answer.status == 401)
        throw GitHubClientError::unauthorized();
    throw GitHubClientError::failed(answer.status, answer.text());
}

} // namespace

GitHubClient::Timing GitHubClient::Timing::real()
{
    Timing timing;
    timing.now = [] { return QDateTime::currentDateTimeUtc(); };
    timing.sleep = [](std::chrono::seconds duration) -> QCoro::Task<> {
        co_await sleepFor(std::chrono::duration_cast<std::chrono::milliseconds>(duration));
    };
    return timing;
}

bool GitHubClient::isValidOrganization(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9-]*$"));
    return pattern.match(name).hasMatch();
}

QCoro::Task<QString> GitHubClient::authenticatedUser(QString token)
{
    HttpHeaders headers = apiHeaders(token);
    headers.removeLast();
    const QUrl url = apiURL(GitHosts::githubAPIRoot(), QStringLiteral("/user"));
    const HttpAnswer answer = co_await sendHttp(m_manager, "GET", url, headers);
    if (!answer.isSuccess())
        throwFor(answer);
    const QString login = jsonString(answer.object().value_or(json::object()), "login");
    if (login.isEmpty())
        throw GitHubClientError::failed(answer.status, answer.text());
    co_return login;
}

QCoro::Task<GitRemoteRepository> GitHubClient::createRepository(QString name, bool isPrivate,
                                                                std::optional<QString> organization,
                                                                QString token)
{
    QString path = QStringLiteral("/user/repos");
    if (organization) {
        if (!isValidOrganization(*organization))
            throw GitHubClientError::failed(422, QStringLiteral("Enter a valid GitHub organization name."));
        path = QStringLiteral("/orgs/") + *organization + QStringLiteral("/repos");
    }
    const json body{{"name", name.toStdString()}, {"private", isPrivate}, {"auto_init", false}};
    const QUrl url = apiURL(GitHosts::githubAPIRoot(), path);
    const HttpAnswer answer = co_await sendHttp(m_manager, "POST", url, apiHeaders(token), jsonBody(body));
    if (!answer.isSuccess())
        throwFor(answer);
    const json object = answer.object().value_or(json::object());
    GitRemoteRepository repo;
    repo.name = jsonString(object, "name");
    if (repo.name.isEmpty())
        repo.name = name;
    repo.fullName = jsonString(object, "full_name");
    repo.cloneURL = jsonString(object, "clone_url");
    repo.htmlURL = jsonString(object, "html_url");
    co_return repo;
}

namespace {

// A whole-number field (a number, or a text holding one); `fallback` when absent, nothing when it
// holds anything else.
std::optional<int> wholeNumber(const json& object, const char* key, int fallback)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return fallback;
    if (it->is_number_integer())
        return it->get<int>();
    if (it->is_string()) {
        bool ok = false;
        const int value = QString::fromStdString(it->get<std::string>()).trimmed().toInt(&ok);
        if (ok)
            return value;
    }
    return std::nullopt;
}

} // namespace

QCoro::Task<GitHubDeviceCode> GitHubClient::requestDeviceCode(QString clientID)
{
    const json body{{"client_id", clientID.toStdString()}, {"scope", deviceScope}};
    const QUrl url = apiURL(GitHosts::githubWebRoot(), QStringLiteral("/login/device/code"));
    const HttpAnswer answer = co_await sendHttp(m_manager, "POST", url, webHeaders(), jsonBody(body));
    if (!answer.isSuccess())
        throwFor(answer);
    const auto object = answer.object();
    if (!object)
        throw GitHubClientError::failed(answer.status, answer.text());
    GitHubDeviceCode code;
    code.deviceCode = jsonString(*object, "device_code");
    code.userCode = jsonString(*object, "user_code");
    code.verificationURI = jsonString(*object, "verification_uri");
    const std::optional<int> interval = wholeNumber(*object, "interval", 5);
    const std::optional<int> expiresIn = wholeNumber(*object, "expires_in", 900);
    if (!interval || !expiresIn)
        throw GitHubClientError::failed(answer.status, answer.text());
    code.interval = *interval;
    code.expiresIn = *expiresIn;
    if (code.deviceCode.isEmpty() || code.userCode.isEmpty())
        throw GitHubClientError::failed(answer.status, answer.text());
    co_return code;
}

QCoro::Task<QString> GitHubClient::pollAccessToken(QString clientID, QString deviceCode)
{
    const json body{{"client_id", clientID.toStdString()},
                    {"device_code", deviceCode.toStdString()},
                    {"grant_type", "urn:ietf:params:oauth:grant-type:device_code"}};
    const QUrl url = apiURL(GitHosts::githubWebRoot(), QStringLiteral("/login/oauth/access_token"));
    const HttpAnswer answer = co_await sendHttp(m_manager, "POST", url, webHeaders(), jsonBody(body));
    const auto object = answer.object();
    if (!object)
        throw GitHubClientError::failed(answer.status, answer.text());
    const QString token = jsonString(*object, "access_token");
    if (!token.isEmpty())
        co_return token;
    const QString error = jsonString(*object, "error");
    if (error == QLatin1String("authorization_pending"))
        throw GitHubClientError::devicePending();
    if (error == QLatin1String("slow_down"))
        throw GitHubClientError::deviceSlowDown();
    if (error == QLatin1String("expired_token") || error == QLatin1String("access_denied"))
        throw GitHubClientError::deviceExpired();
    QString text = jsonString(*object, "error_description");
    if (text.isEmpty())
        text = error;
    if (text.isEmpty())
        text = answer.text();
    if (text.isEmpty())
        text = QStringLiteral("Unknown error");
    throw GitHubClientError::failed(answer.status, text);
}

QCoro::Task<QString> GitHubClient::waitForDeviceToken(QString clientID, GitHubDeviceCode code, Timing timing,
                                                      std::function<void(const QString&)> progress,
                                                      CancellationToken token)
{
    const QDateTime deadline = timing.now().addSecs(code.expiresIn);
    int interval = std::max(code.interval, 5);
    while (true) {
        if (!(timing.now() < deadline))
            throw GitHubClientError::deviceExpired();
        co_await timing.sleep(std::chrono::seconds(interval));
        token.throwIfCancelled();
        try {
            co_return co_await pollAccessToken(clientID, code.deviceCode);
        } catch (const GitHubClientError& error) {
            if (error.kind() == GitHubClientError::Case::deviceSlowDown) {
                interval += 5;
                if (progress)
                    progress(QStringLiteral("Still waiting…"));
            } else if (error.kind() == GitHubClientError::Case::devicePending) {
                if (progress)
                    progress(QStringLiteral("Waiting for authorization…"));
            } else {
                throw;
            }
        }
        if (!(timing.now() < deadline))
            throw GitHubClientError::deviceExpired();
    }
}

namespace GitHubOAuth {

QString clientID()
{
    const QString fromEnvironment = qEnvironmentVariable("HALVIK_GITHUB_CLIENT_ID").trimmed();
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Halvik"),
                             QStringLiteral("Halvik"));
    return settings.value(QStringLiteral("prefs.githubOAuthClientID")).toString().trimmed();
}

} // namespace GitHubOAuth

} // namespace halvik
