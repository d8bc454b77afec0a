#pragma once

#include "FakeApiServer.h"

#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QStringList>

#include <optional>

namespace halvik::test {

// Netlify's API as Halvik uses it, on a FakeApiServer: demands "Bearer <token>", creates
// sites, takes zip deploys (unpacked with unzip) and digest deploys (remembering every digest a
// site was sent, checking each PUT against its SHA-1), and keeps what each site serves.
class FakeNetlify
{
public:
    using Request = FakeApiServer::Request;
    using Response = FakeApiServer::Response;

    explicit FakeNetlify(QByteArray token);
    bool start() { return m_server.start(); }
    QString root() const { return m_server.root(); }
    FakeApiServer& server() { return m_server; }
    const QList<Request>& requests() const { return m_server.requests(); }

    // Adds a site as if made on Netlify's own pages; returns its id.
    QString addSite(const QString& name);
    // What the site serves now: path (without the leading "/") → bytes.
    QMap<QString, QByteArray> live(const QString& siteID) const { return m_live.value(siteID); }
    QStringList siteIDs() const { return m_sites.keys(); }
    QJsonObject site(const QString& id) const { return m_sites.value(id); }
    // File PUTs accepted since the last clear.
    int puts() const { return m_puts; }
    int zipDeploys() const { return m_zipDeploys; }
    void clearCounts() { m_puts = 0, m_zipDeploys = 0; }

    QByteArray token;
    QString fullName = QStringLiteral("Ada Lovelace");
    // Digest deploys answered with this status instead (404, 415, 422: the zip fallback).
    std::optional<int> refuseDigests;
    // Every deploy ends in "error" with this message.
    std::optional<QString> failDeploys;
    // Looks at a deploy answered "processing" before it is "ready".
    int processingLooks = 1;

private:
    struct Deploy
    {
        QString id;
        QString siteID;
        QMap<QString, QString> files; // "/path" → sha1
        QSet<QString> missing;
        int looks = 0;
        bool zip = false;
    };
    Response answer(const Request& request);
    Response deployAnswer(const QString& id);
    Response createDeploy(const QString& siteID, const Request& request);
    void publish(Deploy& deploy);

    FakeApiServer m_server;
    QMap<QString, QJsonObject> m_sites;
    QMap<QString, QMap<QString, QByteArray>> m_live;
    QMap<QString, QByteArray> m_blobs; // sha1 → bytes, per account
    QMap<QString, QMap<QString, QByteArray>> m_zipped;
    QMap<QString, Deploy> m_deploys;
    int m_nextSite = 1;
    int m_nextDeploy = 1;
    int m_puts = 0;
    int m_zipDeploys = 0;
};

} // namespace halvik::test
