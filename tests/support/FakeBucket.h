#pragma once

#include "FakeApiServer.h"

#include <QMap>
#include <QStringList>

namespace halvik::test {

// An S3-compatible bucket on 127.0.0.1, path-style: "<root>/<bucket>/<key>". Every request must
// carry a Signature Version 4 signature made with `key` and `secret` (checked in full: the
// canonical request, the signed headers, the payload hash); a PUT must say `If-None-Match: *`
// and gets 412 when the key exists. Public reads without a signature under "<root>/public/<key>".
class FakeBucket
{
public:
    FakeBucket(QString bucket, QString key, QByteArray secret);
    bool start() { return m_server.start(); }
    FakeApiServer& server() { return m_server; }

    QString endpoint() const { return m_server.root(); }
    QString publicURL() const { return m_server.root() + QStringLiteral("/public"); }

    QString bucket;
    QString key;
    QByteArray secret;
    QMap<QString, QByteArray> objects;
    // Every PUT that reached the bucket, stored or refused, by key.
    QStringList puts;
    // Requests whose signature or conditions were wrong, as "<METHOD> <key>: <why>".
    QStringList rejected;
    bool publicReads = true;
    // Off for a baseline that measures plain uploads: requests are then taken unsigned.
    bool checkSignatures = true;
    // When set, PUTs after this many stored objects answer 500 (an interrupted copy).
    int failAfterStores = -1;
    int stores = 0;

private:
    FakeApiServer::Response answer(const FakeApiServer::Request& request);
    QString signatureProblem(const FakeApiServer::Request& request) const;

    FakeApiServer m_server;
};

} // namespace halvik::test
