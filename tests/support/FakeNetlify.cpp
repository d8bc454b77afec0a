#include "FakeNetlify.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

namespace halvik::test {

namespace {

FakeApiServer::Response json(int status, const QJsonObject& object)
{
    return FakeApiServer::Response::json(status, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

FakeApiServer::Response message(int status, const QString& text)
{
    return json(status, QJsonObject{{QStringLiteral("code"), status}, {QStringLiteral("message"), text}});
}

QString sha1(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
}

// The files of a zip, by unzip into a temporary folder.
QMap<QString, QByteArray> unzipped(const QByteArray& zip)
{
    QMap<QString, QByteArray> files;
    QTemporaryDir dir;
    QFile archive(dir.filePath(QStringLiteral("upload.zip")));
    if (!archive.open(QIODevice::WriteOnly))
        return files;
    archive.write(zip);
    archive.close();
    const QString out = dir.filePath(QStringLiteral("out"));
    QProcess unzip;
    unzip.start(QStringLiteral("/usr/bin/unzip"),
                {QStringLiteral("-q"), archive.fileName(), QStringLiteral("-d"), out});
    if (!unzip.waitForFinished(60000) || unzip.exitCode() != 0)
        return files;
    QDirIterator it(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            files.insert(QDir(out).relativeFilePath(path), file.readAll());
    }
    return files;
}

} // namespace

FakeNetlify::FakeNetlify(QByteArray token_) : token(std::move(token_))
{
    m_server.setHandler([this](const Request& request) { return answer(request); });
}

QString FakeNetlify::addSite(const QString& name)
{
    const QString id = QStringLiteral("site-%1").arg(m_nextSite++);
    m_sites.insert(
        id,
        QJsonObject{{QStringLiteral("id"), id},
                    {QStringLiteral("name"), name},
                    {QStringLiteral("ssl_url"), QStringLiteral("https://%1.netlify.app").arg(name)},
                    {QStringLiteral("admin_url"), QStringLiteral("https://app.netlify.com/sites/") + name}});
    return id;
}

FakeApiServer::Response FakeNetlify::answer(const Request& request)
{
    if (request.header("authorization") != "Bearer " + token)
        return message(401, QStringLiteral("Access Denied"));
    const QString prefix = QStringLiteral("/api/v1/");
    if (!request.path.startsWith(prefix))
        return message(404, QStringLiteral("Not Found"));
    const QString path = request.path.mid(prefix.size());
    const QStringList parts = path.split(QLatin1Char('/'));

    if (request.method == "GET" && path == QLatin1String("user"))
        return json(200, QJsonObject{{QStringLiteral("full_name"), fullName},
                                     {QStringLiteral("email"), QStringLiteral("ada@example.com")}});
    if (request.method == "GET" && path == QLatin1String("sites")) {
        QJsonArray list;
        for (const QJsonObject& site : std::as_const(m_sites))
            list.append(site);
        return FakeApiServer::Response::json(200, QJsonDocument(list).toJson(QJsonDocument::Compact));
    }
    if (request.method == "POST" && path == QLatin1String("sites")) {
        QString name = request.json().value(QStringLiteral("name")).toString();
        if (name.isEmpty())
            name = QStringLiteral("random-name-%1").arg(m_nextSite);
        for (const QJsonObject& site : std::as_const(m_sites))
            if (site.value(QStringLiteral("name")).toString() == name)
                return message(422, QStringLiteral("subdomain must be unique"));
        return json(201, m_sites.value(addSite(name)));
    }
    if (request.method == "POST" && parts.size() == 3 && parts[0] == QLatin1String("sites") &&
        parts[2] == QLatin1String("deploys")) {
        if (!m_sites.contains(parts[1]))
            return message(404, QStringLiteral("Not Found"));
        return createDeploy(parts[1], request);
    }
    if (request.method == "PUT" && parts.size() >= 4 && parts[0] == QLatin1String("deploys") &&
        parts[2] == QLatin1String("files")) {
        if (request.header("content-type") != "application/octet-stream")
            return message(415, QStringLiteral("Unsupported Media Type"));
        auto deploy = m_deploys.find(parts[1]);
        if (deploy == m_deploys.end())
            return message(404, QStringLiteral("Not Found"));
        const QString file = QLatin1Char('/') + QStringList(parts.mid(3)).join(QLatin1Char('/'));
        const QString digest = sha1(request.body);
        if (deploy->files.value(file) != digest)
            return message(422, QStringLiteral("SHA1 mismatch for ") + file);
        m_blobs.insert(digest, request.body);
        deploy->missing.remove(digest);
        ++m_puts;
        return json(200, QJsonObject{{QStringLiteral("path"), file}});
    }
    if (request.method == "GET" && parts.size() == 2 && parts[0] == QLatin1String("deploys"))
        return deployAnswer(parts[1]);
    return message(404, QStringLiteral("Not Found"));
}

FakeApiServer::Response FakeNetlify::createDeploy(const QString& siteID, const Request& request)
{
    Deploy deploy;
    deploy.siteID = siteID;
    const QString id = QStringLiteral("deploy-%1").arg(m_nextDeploy++);
    deploy.id = id;
    if (request.header("content-type") == "application/zip") {
        deploy.zip = true;
        ++m_zipDeploys;
        const QMap<QString, QByteArray> files = unzipped(request.body);
        if (files.isEmpty())
            return message(422, QStringLiteral("The zip could not be read"));
        m_zipped.insert(id, files);
    } else {
        if (refuseDigests)
            return message(*refuseDigests, QStringLiteral("Digest deploys are not available"));
        const QJsonObject files =
            QJsonDocument::fromJson(request.body).object().value(QStringLiteral("files")).toObject();
        for (auto it = files.begin(); it != files.end(); ++it) {
            deploy.files.insert(it.key(), it.value().toString());
            if (!m_blobs.contains(it.value().toString()))
                deploy.missing.insert(it.value().toString());
        }
    }
    m_deploys.insert(id, deploy);
    QJsonArray required;
    for (const QString& digest : std::as_const(deploy.missing))
        required.append(digest);
    return json(200, QJsonObject{{QStringLiteral("id"), id},
                                 {QStringLiteral("state"),
                                  deploy.zip ? QStringLiteral("uploaded") : QStringLiteral("prepared")},
                                 {QStringLiteral("required"), required},
                                 {QStringLiteral("ssl_url"),
                                  QStringLiteral("https://%1--site.netlify.app").arg(id)}});
}

void FakeNetlify::publish(Deploy& deploy)
{
    QMap<QString, QByteArray> files;
    if (deploy.zip) {
        files = m_zipped.value(deploy.id);
    } else {
        for (auto it = deploy.files.cbegin(); it != deploy.files.cend(); ++it)
            files.insert(it.key().mid(1), m_blobs.value(it.value()));
    }
    m_live.insert(deploy.siteID, files);
}

FakeApiServer::Response FakeNetlify::deployAnswer(const QString& id)
{
    auto deploy = m_deploys.find(id);
    if (deploy == m_deploys.end())
        return message(404, QStringLiteral("Not Found"));
    QJsonObject object{{QStringLiteral("id"), id}};
    if (failDeploys) {
        object.insert(QStringLiteral("state"), QStringLiteral("error"));
        object.insert(QStringLiteral("error_message"), *failDeploys);
        return json(200, object);
    }
    if (!deploy->missing.isEmpty()) {
        object.insert(QStringLiteral("state"), QStringLiteral("uploading"));
        return json(200, object);
    }
    if (deploy->looks++ < processingLooks) {
        object.insert(QStringLiteral("state"), QStringLiteral("processing"));
        return json(200, object);
    }
    if (deploy->looks == processingLooks + 1)
        publish(*deploy);
    object.insert(QStringLiteral("state"), QStringLiteral("ready"));
    return json(200, object);
}

} // namespace halvik::test
