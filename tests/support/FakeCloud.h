#pragma once

#include "FakeApiServer.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QStringList>

#include <functional>
#include <optional>

namespace halvik::test {

// Laravel Cloud's API as Halvik uses it, on a FakeApiServer: the browser sign-in (a page that
// redirects to the local callback with a percent-encoded code, then the exchange), the
// organization, regions, applications with their environments, deployments that move through
// `deploymentStatuses` one step per look, and MySQL clusters that become available after
// `clusterLooks` looks. Demands "Bearer <token>" for everything but the sign-in.
class FakeCloud
{
public:
    using Request = FakeApiServer::Request;
    using Response = FakeApiServer::Response;

    FakeCloud(QByteArray token, QString organization = QStringLiteral("Acme Studio"));
    bool start() { return m_server.start(); }
    QString root() const { return m_server.root(); }
    FakeApiServer& server() { return m_server; }
    const QList<Request>& requests() const { return m_server.requests(); }
    // "METHOD path" of every request, "/api/" left off, query included when there is one.
    QStringList calls() const;
    QList<Request> find(const QByteArray& method, const QString& path) const;
    void clear() { m_server.clear(); }

    QByteArray token;
    QString organization;
    // What the sign-in page hands the browser; it contains characters that must be encoded.
    QString exchangeCode = QStringLiteral("ex/ch+ange code&1");
    // Tokens the exchange hands out, by organization; the first is `token`'s.
    QList<QPair<QString, QByteArray>> extraOrganizations;
    // The next n requests with a token get 401 whatever the token.
    int rejectTokens = 0;
    // Each application creation refuses with a redirect (no GitHub access).
    bool denyGitHub = false;
    // The first MySQL type asked for is refused with 422.
    bool refuseMySQL84 = true;
    QStringList firstBuildStatuses{QStringLiteral("build.running"), QStringLiteral("build.failed")};
    QString firstBuildReason = QStringLiteral("Composer could not reach the database.");
    QStringList deploymentStatuses{QStringLiteral("pending"), QStringLiteral("build.running"),
                                   QStringLiteral("deployment.running"),
                                   QStringLiteral("deployment.succeeded")};
    int clusterLooks = 2;
    QString clusterPassword = QStringLiteral("db-pass-canary-5d2e");
    QJsonArray regions;

    // State, for the tests to look at and seed.
    QMap<QString, QJsonObject> applications; // id -> attributes (+ "environment", "latest")
    QMap<QString, QJsonObject> environments; // id -> attributes
    QMap<QString, QJsonObject> clusters;     // id -> attributes (+ "schema", "looks")
    struct DeploymentState
    {
        QStringList statuses;
        int step = -1;
        QString reason;
    };
    QMap<QString, DeploymentState> deployments;
    // Consulted before anything else: an answer here replaces the normal one.
    std::function<std::optional<Response>(const Request&)> override;

    // Seeds an application with its environment; returns the application id.
    QString addApplication(const QString& name, const QString& region = QStringLiteral("us-east-1"));
    QString environmentOf(const QString& applicationID) const;

private:
    Response answer(const Request& request);
    Response applicationsAnswer(const Request& request, const QStringList& parts);
    Response environmentAnswer(const Request& request, const QStringList& parts);
    Response deploymentAnswer(const Request& request, const QStringList& parts);
    Response clusterAnswer(const Request& request, const QStringList& parts);
    QJsonObject applicationResource(const QString& id) const;
    QJsonObject environmentResource(const QString& id) const;
    QJsonObject deploymentResource(const QString& id) const;
    QJsonObject clusterResource(const QString& id, bool withPassword) const;
    QString newDeployment(const QStringList& statuses, const QString& reason);

    FakeApiServer m_server;
    int m_next = 100;
};

} // namespace halvik::test
