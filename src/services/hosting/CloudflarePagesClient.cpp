#include "CloudflarePagesClient.h"

#include "SecretMask.h"

#include "services/ProcessRunner.h"
#include "services/accounts/HttpJson.h"

#include <QDir>
#include <QFileInfo>

namespace halvik {

using nlohmann::json;

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

std::optional<json> envelopeOf(const QByteArray& body)
{
    const auto parsed = json::parse(body.constData(), body.constData() + body.size(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object())
        return std::nullopt;
    return parsed;
}

QString accountPath(const QString& accountID)
{
    return QStringLiteral("accounts/%1/pages/projects")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(accountID)));
}

} // namespace

QString CloudflarePagesClient::baseURL()
{
    const QString configured = qEnvironmentVariable("HALVIK_CLOUDFLARE_URL").trimmed();
    return configured.isEmpty() ? s("https://api.cloudflare.com") : configured;
}

QString CloudflarePagesClient::projectURL(const QString& name)
{
    return QStringLiteral("https://%1.%2").arg(name, s(defaultDomain));
}

QString CloudflarePagesClient::failureMessage(int status, const QByteArray& body)
{
    if (const auto envelope = envelopeOf(body)) {
        const auto errors = envelope->find("errors");
        if (errors != envelope->end() && errors->is_array() && !errors->empty()) {
            const QString message = jsonString(errors->front(), "message").trimmed();
            if (!message.isEmpty())
                return message;
        }
        if (status >= 200 && status <= 299)
            return s("Request failed");
    }
    return QStringLiteral("HTTP %1").arg(status);
}

QList<CloudflareProject> CloudflarePagesClient::parseProjects(const json& envelope)
{
    QList<CloudflareProject> projects;
    const auto result = envelope.find("result");
    if (result == envelope.end() || !result->is_array())
        return projects;
    for (const json& item : *result) {
        if (!item.is_object())
            continue;
        CloudflareProject project{jsonString(item, "name"), jsonString(item, "subdomain")};
        if (project.name.isEmpty())
            continue;
        if (project.subdomain.isEmpty())
            project.subdomain = project.name + QLatin1Char('.') + s(defaultDomain);
        projects << project;
    }
    return projects;
}

QCoro::Task<json> CloudflarePagesClient::request(QString path, QByteArray method, QString token,
                                                 std::optional<json> body, CancellationToken cancel)
{
    const QUrl url = apiURL(baseURL(), QStringLiteral("/client/v4/") + path);
    const HttpHeaders headers{{"Authorization", "Bearer " + token.toUtf8()},
                              {"Accept", "application/json"},
                              {"Content-Type", "application/json"}};
    std::optional<QByteArray> payload;
    if (body)
        payload = jsonBody(*body);
    const HttpAnswer answer =
        co_await sendHttp(m_manager, method, url, headers, payload, std::chrono::seconds(60), cancel);
    if (answer.status == 401)
        throw CloudflarePagesClientError::unauthorized();
    const auto envelope = envelopeOf(answer.body);
    const bool succeeded = answer.isSuccess() && envelope && envelope->value("success", false);
    if (!succeeded)
        throw CloudflarePagesClientError::requestFailed(answer.status,
                                                        failureMessage(answer.status, answer.body));
    co_return *envelope;
}

QCoro::Task<QString> CloudflarePagesClient::verify(QString token, QString accountID)
{
    if (accountID.trimmed().isEmpty())
        throw CloudflarePagesClientError::accountRequired();
    try {
        co_await request(accountPath(accountID.trimmed()), "GET", token, std::nullopt, CancellationToken());
    } catch (const CloudflarePagesClientError& error) {
        if (error.kind() == CloudflarePagesClientError::Case::unauthorized)
            throw;
        throw CloudflarePagesClientError::noPagesAccess();
    }
    co_return s("Cloudflare Pages");
}

QCoro::Task<QList<CloudflareProject>> CloudflarePagesClient::projects(QString token, QString accountID,
                                                                      CancellationToken cancel)
{
    if (accountID.trimmed().isEmpty())
        throw CloudflarePagesClientError::accountRequired();
    const json envelope =
        co_await request(accountPath(accountID.trimmed()), "GET", token, std::nullopt, cancel);
    co_return parseProjects(envelope);
}

QCoro::Task<CloudflareProject>
CloudflarePagesClient::createProject(QString name, QString token, QString accountID, CancellationToken cancel)
{
    if (accountID.trimmed().isEmpty())
        throw CloudflarePagesClientError::accountRequired();
    const std::optional<json> body = json{{"name", name.toStdString()}, {"production_branch", "main"}};
    const json envelope = co_await request(accountPath(accountID.trimmed()), "POST", token, body, cancel);
    const json result = envelope.value("result", json::object());
    CloudflareProject project{jsonString(result, "name"), jsonString(result, "subdomain")};
    if (project.name.isEmpty())
        project.name = name;
    if (project.subdomain.isEmpty())
        project.subdomain = project.name + QLatin1Char('.') + s(defaultDomain);
    co_return project;
}

QCoro::Task<QString> CloudflarePagesClient::deployDirectory(QString projectName, QString directory,
                                                            QString token, QString accountID,
                                                            std::optional<NodeRuntime::Toolchain> node,
                                                            QStringList pathEntries, LineCallback onOutput,
                                                            CancellationToken cancel)
{
    if (accountID.trimmed().isEmpty())
        throw CloudflarePagesClientError::accountRequired();
    if (!node || !node->npx || !QFileInfo(*node->npx).isExecutable())
        throw CloudflarePagesClientError::nodeMissing();
    const QString output = QDir::cleanPath(QFileInfo(directory).absoluteFilePath());
    ProcessRequest request;
    request.executable = *node->npx;
    request.arguments = {s("--yes"),
                         s("wrangler@4"),
                         s("pages"),
                         s("deploy"),
                         output,
                         QStringLiteral("--project-name=") + projectName,
                         s("--branch=main"),
                         s("--commit-dirty=true")};
    request.workingDirectory = QFileInfo(output).absolutePath();
    request.environment = {{s("CLOUDFLARE_API_TOKEN"), token},
                           {s("CLOUDFLARE_ACCOUNT_ID"), accountID.trimmed()},
                           {s("CI"), s("1")},
                           {s("npm_node_execpath"), node->node},
                           {s("PATH"), pathEntries.join(QLatin1Char(':'))}};
    if (!qEnvironmentVariable("HALVIK_CLOUDFLARE_URL").trimmed().isEmpty()) {
        QString api = baseURL();
        while (api.endsWith(QLatin1Char('/')))
            api.chop(1);
        request.environment.insert(s("CLOUDFLARE_API_BASE_URL"), api + s("/client/v4"));
    }
    const ProcessRunner::OutputCallback lines = [onOutput, token](const ProcessOutput& line) {
        if (onOutput)
            onOutput(maskSecret(line.line, token));
    };
    const ProcessResult result = co_await m_runner.run(request, lines, cancel);
    if (result.exitCode != 0 || result.endedBySignal)
        throw CloudflarePagesClientError::wranglerFailed(result.exitCode,
                                                         maskSecret(result.combined(), token));
    co_return projectURL(projectName);
}

} // namespace halvik
