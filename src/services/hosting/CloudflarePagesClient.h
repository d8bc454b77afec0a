#pragma once

#include "async/Cancellation.h"
#include "async/HalvikError.h"
#include "services/runtime/NodeRuntime.h"

#include <QCoroTask>
#include <QList>
#include <QNetworkAccessManager>
#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>

namespace halvik {

class ProcessRunner;

struct CloudflareProject
{
    QString name;
    // "<name>.pages.dev" when the answer has none.
    QString subdomain;

    QString url() const { return QStringLiteral("https://") + subdomain; }
    bool operator==(const CloudflareProject&) const = default;
};

class CloudflarePagesClientError : public HalvikError
{
public:
    enum class Case
    {
        unauthorized,
        accountRequired,
        nodeMissing,
        wranglerFailed,
        noPagesAccess,
        requestFailed
    };

    static CloudflarePagesClientError unauthorized()
    {
        return {Case::unauthorized, QStringLiteral("Cloudflare rejected the API token."), 401};
    }
    static CloudflarePagesClientError accountRequired()
    {
        return {Case::accountRequired, QStringLiteral("Cloudflare account ID is required."), 0};
    }
    static CloudflarePagesClientError nodeMissing()
    {
        return {Case::nodeMissing,
                QStringLiteral("Node/npm was not found. Install Node for Halvik from Settings, or use Herd / "
                               "Homebrew."),
                0};
    }
    static CloudflarePagesClientError wranglerFailed(int exitStatus, const QString& output)
    {
        QString text = QStringLiteral("Wrangler failed (%1)").arg(exitStatus);
        if (!output.trimmed().isEmpty())
            text += QLatin1Char('\n') + output.trimmed();
        return {Case::wranglerFailed, text, 0};
    }
    static CloudflarePagesClientError noPagesAccess()
    {
        return {Case::noPagesAccess, QStringLiteral("Could not access Pages for this account."), 0};
    }
    static CloudflarePagesClientError requestFailed(int status, const QString& message)
    {
        return {Case::requestFailed, message, status};
    }

    Case kind() const { return m_case; }
    int status() const { return m_status; }

private:
    CloudflarePagesClientError(Case kind, QString text, int status)
        : HalvikError(std::move(text)), m_case(kind), m_status(status)
    {
    }
    Case m_case;
    int m_status;
};

// Cloudflare Pages under HALVIK_CLOUDFLARE_URL (default https://api.cloudflare.com) +
// "/client/v4/"; uploads go through Wrangler run by npx.
class CloudflarePagesClient
{
public:
    static QString baseURL();
    static constexpr auto defaultDomain = "pages.dev";

    explicit CloudflarePagesClient(ProcessRunner& runner) : m_runner(runner) {}

    // "Cloudflare Pages" once the token can list the account's projects.
    QCoro::Task<QString> verify(QString token, QString accountID);
    QCoro::Task<QList<CloudflareProject>> projects(QString token, QString accountID,
                                                   CancellationToken cancel = {});
    QCoro::Task<CloudflareProject> createProject(QString name, QString token, QString accountID,
                                                 CancellationToken cancel = {});

    // Runs `npx --yes wrangler@4 pages deploy …` in the folder's parent and returns the
    // project's production address. `onOutput` gets every line, the token masked, on the
    // process's reader thread.
    using LineCallback = std::function<void(const QString&)>;
    QCoro::Task<QString> deployDirectory(QString projectName, QString directory, QString token,
                                         QString accountID, std::optional<NodeRuntime::Toolchain> node,
                                         QStringList pathEntries, LineCallback onOutput,
                                         CancellationToken cancel = {});

    // The production address of a project.
    static QString projectURL(const QString& name);
    // The sentence of a failed envelope: its first error's message, else "Request failed" for an
    // answer that came with success false, else "HTTP <status>".
    static QString failureMessage(int status, const QByteArray& body);
    static QList<CloudflareProject> parseProjects(const nlohmann::json& envelope);

private:
    QCoro::Task<nlohmann::json> request(QString path, QByteArray method, QString token,
                                        std::optional<nlohmann::json> body, CancellationToken cancel);

    ProcessRunner& m_runner;
    QNetworkAccessManager m_manager;
};

} // namespace halvik
