#pragma once

#include "async/Cancellation.h"
#include "services/ProcessRequest.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QNetworkAccessManager>
#include <QPair>
#include <QString>

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>

namespace halvik {

class ProcessRunner;

// One answer from Laravel Cloud before it is judged: redirects are never followed, so the
// status and Location come back as they are.
struct CloudResponse
{
    int status = 0;
    QByteArray body;
    QString location;

    bool isRedirect() const { return status >= 300 && status <= 399; }
    bool isWebPage() const;
};

struct CloudRequest
{
    QByteArray method = "GET";
    // Under "/api/".
    QString path;
    QList<QPair<QString, QString>> query;
    // Absent for the sign-in calls.
    std::optional<QString> token;
    // Reads of JSON:API resources ask for its media type.
    bool jsonApi = false;
    std::optional<nlohmann::json> body;
};

// HTTP to Laravel Cloud under HALVIK_CLOUD_URL. The token never follows a redirect to another
// host. A write answered by a redirect or a web page (a proxy in the way, an expired session)
// is sent once more through curl, whose request headers go in a private file rather than its
// arguments; every temporary file is gone when the call returns, however it returns.
class CloudTransport
{
public:
    explicit CloudTransport(ProcessRunner* runner = nullptr);

    static QString baseURL();

    QCoro::Task<CloudResponse> send(CloudRequest request, CancellationToken cancel = {});
    // The JSON object of a successful answer (empty for an empty body); throws
    // LaravelCloudClientError for everything else.
    static nlohmann::json finalize(const CloudResponse& response);
    // The sentence after "Laravel Cloud error <status>: " for a failed answer's body.
    static QString failureMessage(const QByteArray& body);

    void setCurl(QString path) { m_curl = std::move(path); }
    // Sees each curl run before it starts (tests check what reaches a process's arguments).
    void setCurlObserver(std::function<void(const ProcessRequest&)> observer)
    {
        m_curlObserver = std::move(observer);
    }
    // How many writes went through curl.
    int curlRetries() const { return m_curlRetries; }

private:
    QCoro::Task<CloudResponse> sendWithCurl(const CloudRequest& request, const QUrl& url,
                                            const QList<QPair<QByteArray, QByteArray>>& headers,
                                            const std::optional<QByteArray>& body, CancellationToken cancel);

    QNetworkAccessManager m_manager;
    ProcessRunner* m_runner;
    QString m_curl = QStringLiteral("/usr/bin/curl");
    std::function<void(const ProcessRequest&)> m_curlObserver;
    int m_curlRetries = 0;
};

} // namespace halvik
