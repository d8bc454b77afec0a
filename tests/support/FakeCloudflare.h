#pragma once

#include "FakeApiServer.h"

#include <QMap>
#include <QSet>
#include <QStringList>

namespace halvik::test {

// Cloudflare's API as Halvik and the fixture Wrangler use it, on a FakeApiServer: envelopes
// {"success", "errors", "result"}, 401 for another token, 403 for another account, 409 for a
// taken project name; the fixture Wrangler's uploads become what a project serves.
class FakeCloudflare
{
public:
    using Request = FakeApiServer::Request;
    using Response = FakeApiServer::Response;

    FakeCloudflare(QByteArray token, QString accountID);
    bool start() { return m_server.start(); }
    QString root() const { return m_server.root(); }
    FakeApiServer& server() { return m_server; }
    const QList<Request>& requests() const { return m_server.requests(); }

    void addProject(const QString& name) { m_projects << name; }
    QStringList projects() const { return m_projects; }
    // What the project serves: path → bytes.
    QMap<QString, QByteArray> live(const QString& project) const { return m_live.value(project); }
    int deployments() const { return m_deployments; }

    QByteArray token;
    QString accountID;
    // Names a create is refused for with 409 although no listed project has them (taken
    // meanwhile, or by another account).
    QSet<QString> takenElsewhere;

private:
    Response answer(const Request& request);

    FakeApiServer m_server;
    QStringList m_projects;
    QMap<QString, QMap<QString, QByteArray>> m_live;
    int m_deployments = 0;
};

// An npm registry on 127.0.0.1 serving one package, packed at start from a fixture folder.
class FakeNpmRegistry
{
public:
    // `packageFolder` holds package.json (name and version are read from it).
    explicit FakeNpmRegistry(QString packageFolder);
    bool start();
    QString root() const { return m_server.root(); }
    int tarballDownloads() const { return m_downloads; }

private:
    FakeApiServer::Response answer(const FakeApiServer::Request& request);

    QString m_folder;
    QString m_name;
    QString m_version;
    QByteArray m_tarball;
    FakeApiServer m_server;
    int m_downloads = 0;
};

} // namespace halvik::test
