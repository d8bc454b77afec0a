#include "CloudTransport.h"

#include "CloudRecords.h"

#include "services/ProcessRunner.h"

#include <QCoroNetworkReply>
#include <QDir>
#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>

#include <memory>

namespace halvik {

using nlohmann::json;

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

bool startsLikeWebPage(const QByteArray& body)
{
    const QByteArray start = body.trimmed().left(16).toLower();
    return start.startsWith("<!doctype") || start.startsWith("<html");
}

std::unique_ptr<QTemporaryFile> temporary(const char* prefix)
{
    auto file =
        std::make_unique<QTemporaryFile>(QDir::tempPath() + QLatin1Char('/') + s(prefix) + s("XXXXXX"));
    file->setAutoRemove(true);
    if (!file->open())
        throw LaravelCloudClientError::failed(0, s("Couldn’t create a temporary file for curl."));
    return file;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

bool CloudResponse::isWebPage() const
{
    return startsLikeWebPage(body);
}

CloudTransport::CloudTransport(ProcessRunner* runner) : m_runner(runner) {}

QString CloudTransport::baseURL()
{
    QString configured = qEnvironmentVariable("HALVIK_CLOUD_URL").trimmed();
    if (configured.isEmpty())
        configured = s("https://cloud.laravel.com");
    while (configured.endsWith(QLatin1Char('/')))
        configured.chop(1);
    return configured;
}

QCoro::Task<CloudResponse> CloudTransport::send(CloudRequest request, CancellationToken cancel)
{
    cancel.throwIfCancelled();
    QUrl url(baseURL() + s("/api/") + request.path);
    if (!request.query.isEmpty()) {
        QStringList items;
        for (const auto& [name, value] : std::as_const(request.query))
            items << QString::fromLatin1(QUrl::toPercentEncoding(name, "[]") + '=' +
                                         QUrl::toPercentEncoding(value));
        url.setQuery(items.join(QLatin1Char('&')), QUrl::StrictMode);
    }
    QList<QPair<QByteArray, QByteArray>> headers;
    if (request.token)
        headers.append(qMakePair(QByteArray("Authorization"), "Bearer " + request.token->toUtf8()));
    headers.append(qMakePair(QByteArray("Accept"),
                             QByteArray(request.jsonApi ? "application/vnd.api+json" : "application/json")));
    std::optional<QByteArray> body;
    if (request.body) {
        const std::string dumped = request.body->dump();
        body = QByteArray(dumped.data(), static_cast<qsizetype>(dumped.size()));
        headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
    }

    QNetworkRequest outgoing(url);
    outgoing.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    outgoing.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    outgoing.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    outgoing.setTransferTimeout(60000);
    for (const auto& [name, value] : std::as_const(headers))
        outgoing.setRawHeader(name, value);
    std::unique_ptr<QNetworkReply> reply(body ? m_manager.sendCustomRequest(outgoing, request.method, *body)
                                              : m_manager.sendCustomRequest(outgoing, request.method));
    QNetworkReply* pending = reply.get();
    cancel.onCancelled(pending, [pending] { pending->abort(); });
    co_await qCoro(pending).waitForFinished();
    cancel.throwIfCancelled();

    CloudResponse response;
    response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (response.status == 0) {
        response.body = reply->errorString().toUtf8();
        co_return response;
    }
    response.body = reply->readAll();
    response.location = QString::fromUtf8(reply->rawHeader("Location"));

    const bool write = request.method != "GET";
    if (write && m_runner && (response.status == 302 || response.isWebPage()))
        response = co_await sendWithCurl(request, url, headers, body, cancel);
    co_return response;
}

QCoro::Task<CloudResponse> CloudTransport::sendWithCurl(const CloudRequest& request, const QUrl& url,
                                                        const QList<QPair<QByteArray, QByteArray>>& headers,
                                                        const std::optional<QByteArray>& body,
                                                        CancellationToken cancel)
{
    ++m_curlRetries;
    // QTemporaryFile creates its files readable by their owner only, and removes them when
    // these go out of scope, after success, failure or cancel alike.
    const auto headerDump = temporary("halvik-cloud-h-");
    const auto requestHeaders = temporary("halvik-cloud-r-");
    const auto output = temporary("halvik-cloud-o-");
    std::unique_ptr<QTemporaryFile> bodyFile;
    for (const auto& [name, value] : headers)
        requestHeaders->write(name + ": " + value + '\n');
    requestHeaders->flush();
    if (body) {
        bodyFile = temporary("halvik-cloud-b-");
        bodyFile->write(*body);
        bodyFile->flush();
    }

    ProcessRequest run;
    run.executable = m_curl;
    run.arguments = QStringList{s("-sS"),
                                s("--max-redirs"),
                                s("0"),
                                s("-D"),
                                headerDump->fileName(),
                                s("-o"),
                                output->fileName(),
                                s("-X"),
                                QString::fromLatin1(request.method),
                                s("-H"),
                                QLatin1Char('@') + requestHeaders->fileName()};
    if (bodyFile)
        run.arguments << s("--data-binary") << QLatin1Char('@') + bodyFile->fileName();
    run.arguments << url.toString(QUrl::FullyEncoded);
    if (m_curlObserver)
        m_curlObserver(run);
    const ProcessResult result = co_await m_runner->run(run, {}, cancel);

    CloudResponse response;
    const QString dumped = QString::fromUtf8(readAll(headerDump->fileName()));
    for (const QString& raw : dumped.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(s("HTTP/"))) {
            response.status = line.section(QLatin1Char(' '), 1, 1).toInt();
            response.location.clear();
        } else if (line.startsWith(s("location:"), Qt::CaseInsensitive)) {
            response.location = line.mid(9).trimmed();
        }
    }
    if (response.status == 0) {
        response.body = result.stderr.text().trimmed().toUtf8();
        if (response.body.isEmpty())
            response.body = "curl exited with " + QByteArray::number(result.exitCode);
        co_return response;
    }
    response.body = readAll(output->fileName());
    co_return response;
}

QString CloudTransport::failureMessage(const QByteArray& body)
{
    const auto parsed = json::parse(body.constData(), body.constData() + body.size(), nullptr, false);
    if (!parsed.is_discarded() && parsed.is_object()) {
        const auto message = parsed.find("message");
        if (message != parsed.end() && message->is_string() && !message->get<std::string>().empty())
            return QString::fromStdString(message->get<std::string>());
        const auto errors = parsed.find("errors");
        if (errors != parsed.end() && errors->is_array()) {
            QStringList parts;
            for (const json& error : *errors) {
                if (!error.is_object())
                    continue;
                for (const char* key : {"detail", "title"}) {
                    const auto text = error.find(key);
                    if (text != error.end() && text->is_string() && !text->get<std::string>().empty()) {
                        parts << QString::fromStdString(text->get<std::string>());
                        break;
                    }
                }
            }
            if (!parts.isEmpty())
                return parts.join(QLatin1Char(' '));
        }
    }
    const QString text = QString::fromUtf8(body).trimmed();
    return text.isEmpty() ? s("Unknown error") : text.left(300);
}

json CloudTransport::finalize(const CloudResponse& response)
{
    if (response.isRedirect()) {
        if (response.location.contains(s("/api/")))
            throw LaravelCloudClientError::failed(response.status, s("Redirected to ") + response.location);
        const QString where = response.location.isEmpty() ? s("an unknown URL") : response.location;
        throw LaravelCloudClientError::failed(response.status, s("Cloud redirected to ") + where + s("."));
    }
    if (response.isWebPage())
        throw LaravelCloudClientError::failed(response.status,
                                              s("Cloud returned a web page instead of the API."));
    if (response.status == 401)
        throw LaravelCloudClientError::unauthorized();
    if (response.status < 200 || response.status > 299)
        throw LaravelCloudClientError::failed(response.status, failureMessage(response.body));
    if (response.body.trimmed().isEmpty())
        return json::object();
    const auto parsed = json::parse(response.body.constData(),
                                    response.body.constData() + response.body.size(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object())
        throw LaravelCloudClientError::failed(response.status, s("Unexpected answer from Laravel Cloud."));
    return parsed;
}

} // namespace halvik
