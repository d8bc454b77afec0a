#pragma once

#include "async/Cancellation.h"
#include "async/HalvikError.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QMap>
#include <QNetworkAccessManager>
#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <optional>

namespace halvik {

struct NetlifySite
{
    QString id;
    QString name;
    QString sslURL;
    QString adminURL;

    // The site's production address: its ssl_url, else its name under Netlify's own domain.
    QString publicURL() const;
    bool operator==(const NetlifySite&) const = default;
};

struct NetlifyDeploy
{
    QString id;
    QString state = QStringLiteral("unknown");
    QString sslURL;
    // SHA-1 digests of the files Netlify does not hold yet (digest deploys only).
    QStringList required;
    QString errorMessage;
};

class NetlifyClientError : public HalvikError
{
public:
    enum class Case
    {
        unauthorized,
        failed,
        missing
    };

    static NetlifyClientError unauthorized()
    {
        return {Case::unauthorized, QStringLiteral("Netlify rejected the access token."), 401};
    }
    static NetlifyClientError failed(int status, const QString& message)
    {
        return {Case::failed, QStringLiteral("Netlify error %1: %2").arg(status).arg(message), status};
    }
    static NetlifyClientError missing(const QString& what)
    {
        return {Case::missing, QStringLiteral("Netlify’s answer has no %1.").arg(what), 0};
    }

    Case kind() const { return m_case; }
    int status() const { return m_status; }

private:
    NetlifyClientError(Case kind, QString text, int status)
        : HalvikError(std::move(text)), m_case(kind), m_status(status)
    {
    }
    Case m_case;
    int m_status;
};

// Netlify's API under HALVIK_NETLIFY_URL (default https://api.netlify.com) + "/api/v1/".
class NetlifyClient
{
public:
    static QString baseURL();
    static constexpr auto defaultDomain = "netlify.app";

    // The account's full name, else its e-mail, else "Netlify".
    QCoro::Task<QString> verify(QString token);
    QCoro::Task<QList<NetlifySite>> sites(QString token);
    QCoro::Task<NetlifySite> createSite(std::optional<QString> name, QString token,
                                        CancellationToken cancel = {});
    QCoro::Task<NetlifyDeploy> deployZip(QString siteID, QByteArray zipData, QString token,
                                         std::optional<QString> title = std::nullopt,
                                         CancellationToken cancel = {});

    // A deploy described by its files ("/<path>" → SHA-1); the answer lists in `required` the
    // digests Netlify still needs.
    QCoro::Task<NetlifyDeploy> createDigestDeploy(QString siteID, QMap<QString, QString> files, QString token,
                                                  std::optional<QString> title = std::nullopt,
                                                  CancellationToken cancel = {});
    // One file of a digest deploy; `path` is relative to the output folder.
    QCoro::Task<> uploadFile(QString deployID, QString path, QByteArray data, QString token,
                             CancellationToken cancel = {});
    QCoro::Task<NetlifyDeploy> deploy(QString deployID, QString token, CancellationToken cancel = {});

    static NetlifySite parseSite(const nlohmann::json& object);
    static NetlifyDeploy parseDeploy(const nlohmann::json& object);
    // "files/a%20b/c.html" for "a b/c.html".
    static QString encodedPath(const QString& path);

private:
    QCoro::Task<nlohmann::json> request(QString path, QByteArray method, QString token,
                                        std::optional<QByteArray> body, QByteArray contentType,
                                        CancellationToken cancel);

    QNetworkAccessManager m_manager;
};

} // namespace halvik
