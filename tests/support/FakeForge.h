#pragma once

#include "FakeApiServer.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <functional>
#include <optional>

namespace halvik::test {

// Forge's API as Halvik uses it, on a FakeApiServer: demands "Bearer <token>", keeps the
// servers and the sites created on them, and moves each deployment through `statuses`, one
// step per look at the deployment history, its output growing by `outputPerPoll` lines.
class FakeForge
{
public:
    using Request = FakeApiServer::Request;
    using Response = FakeApiServer::Response;

    explicit FakeForge(QByteArray token);
    bool start() { return m_server.start(); }
    // What HALVIK_FORGE_URL is set to.
    QString root() const { return m_server.root(); }
    FakeApiServer& server() { return m_server; }
    const QList<Request>& requests() const { return m_server.requests(); }
    // "METHOD path" of every request, "/api/v1/" left off.
    QStringList calls() const;
    // The first request to `path` (without "/api/v1/"), if any.
    std::optional<Request> find(const QByteArray& method, const QString& path) const;

    QByteArray token;
    QString userName = QStringLiteral("Taylor");
    QString userEmail = QStringLiteral("taylor@example.com");
    QJsonArray servers;
    // Statuses a deployment passes through, one per look; the last one repeats.
    QStringList statuses{QStringLiteral("queued"), QStringLiteral("deploying"), QStringLiteral("finished")};
    int outputPerPoll = 2;
    qint64 nextSiteId = 501;
    qint64 nextDeploymentId = 9001;
    // Consulted before anything else: an answer here replaces the normal one.
    std::function<std::optional<Response>(const Request&)> override;

    // How many times the deployment history was read.
    int historyLooks() const { return m_historyLooks; }

    static Response webPage(int status);
    static QJsonObject server(qint64 id, const QString& name,
                              const QString& ip = QStringLiteral("203.0.113.7"));

private:
    Response answer(const Request& request);
    Response deploymentAnswer(const QString& rest, const Request& request);

    FakeApiServer m_server;
    qint64 m_deploymentId = 0;
    int m_step = -1;
    int m_historyLooks = 0;
    QStringList m_output;
};

} // namespace halvik::test
