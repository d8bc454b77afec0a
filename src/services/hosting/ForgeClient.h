#pragma once

#include "async/Cancellation.h"
#include "async/HalvikError.h"
#include "services/accounts/SourceControlErrors.h"

#include <QCoroTask>
#include <QList>
#include <QNetworkAccessManager>
#include <QString>

#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>

namespace halvik {

struct ForgeUser
{
    QString name;
    QString email;
};

struct ForgeServer
{
    qint64 id = 0;
    QString name;
    QString ipAddress;
    QString region;
    QString phpVersion;
    bool isReady = false;
};

struct ForgeSite
{
    qint64 id = 0;
    QString name;
    QString directory;
    QString status = QStringLiteral("installing");
};

struct ForgeDeploymentStatus
{
    std::optional<qint64> id;
    QString status = QStringLiteral("unknown");
};

class ForgeClientError : public HalvikError
{
public:
    enum class Case
    {
        unauthorized,
        failed
    };

    static ForgeClientError unauthorized()
    {
        return {Case::unauthorized, QStringLiteral("Forge rejected the API token."), 401};
    }
    static ForgeClientError failed(int status, const QString& message)
    {
        return {Case::failed, providerFailure("Forge", status, message), status};
    }

    Case kind() const { return m_case; }
    int status() const { return m_status; }

private:
    ForgeClientError(Case kind, QString text, int status)
        : HalvikError(std::move(text)), m_case(kind), m_status(status)
    {
    }
    Case m_case;
    int m_status;
};

// The Forge REST API under HALVIK_FORGE_URL (default https://forge.laravel.com) + "/api/v1/".
// Every call throws ForgeClientError for a refused or failed answer, and CancelledError when
// `cancel` ends it.
class ForgeClient
{
public:
    static QString baseURL();

    QCoro::Task<nlohmann::json> request(QString path, QByteArray method, QString token,
                                        std::optional<nlohmann::json> body = std::nullopt,
                                        CancellationToken cancel = {});

    // The account's name, or its e-mail when the name is empty.
    QCoro::Task<QString> verify(QString token);
    QCoro::Task<ForgeUser> user(QString token);
    QCoro::Task<QList<ForgeServer>> servers(QString token);
    QCoro::Task<ForgeSite> createSite(qint64 serverID, QString domain, QString directory,
                                      std::optional<QString> phpVersion, QString token,
                                      CancellationToken cancel = {});
    QCoro::Task<> enableQuickDeploy(qint64 serverID, qint64 siteID, QString token,
                                    CancellationToken cancel = {});
    QCoro::Task<> deploy(qint64 serverID, qint64 siteID, QString token, CancellationToken cancel = {});
    QCoro::Task<ForgeDeploymentStatus> latestDeployment(qint64 serverID, qint64 siteID, QString token);
    QCoro::Task<ForgeDeploymentStatus> deployment(qint64 serverID, qint64 siteID, qint64 deploymentID,
                                                  QString token);
    QCoro::Task<QString> deploymentOutput(qint64 serverID, qint64 siteID, qint64 deploymentID, QString token);

    // The sentence after "Forge error <status>: " for a body that is not a success.
    static QString failureMessage(const QByteArray& body);
    static QList<ForgeServer> parseServers(const nlohmann::json& object);

    // How long a request may go without an answer (a minute unless a test says otherwise).
    void setRequestTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

private:
    QNetworkAccessManager m_manager;
    std::chrono::milliseconds m_timeout = std::chrono::seconds(60);
};

} // namespace halvik
