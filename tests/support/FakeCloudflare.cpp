#include "FakeCloudflare.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

namespace halvik::test {

namespace {

FakeApiServer::Response envelope(int status, const QJsonValue& result)
{
    const QJsonObject object{{QStringLiteral("success"), true},
                             {QStringLiteral("errors"), QJsonArray()},
                             {QStringLiteral("messages"), QJsonArray()},
                             {QStringLiteral("result"), result}};
    return FakeApiServer::Response::json(status, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

FakeApiServer::Response failure(int status, int code, const QString& message)
{
    const QJsonObject object{
        {QStringLiteral("success"), false},
        {QStringLiteral("errors"),
         QJsonArray{QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}}}},
        {QStringLiteral("result"), QJsonValue()}};
    return FakeApiServer::Response::json(status, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject project(const QString& name)
{
    return QJsonObject{{QStringLiteral("name"), name},
                       {QStringLiteral("subdomain"), name + QStringLiteral(".pages.dev")},
                       {QStringLiteral("production_branch"), QStringLiteral("main")}};
}

} // namespace

FakeCloudflare::FakeCloudflare(QByteArray token_, QString accountID_)
    : token(std::move(token_)), accountID(std::move(accountID_))
{
    m_server.setHandler([this](const Request& request) { return answer(request); });
}

FakeApiServer::Response FakeCloudflare::answer(const Request& request)
{
    if (request.header("authorization") != "Bearer " + token)
        return failure(401, 10000, QStringLiteral("Authentication error"));
    const QString prefix = QStringLiteral("/client/v4/accounts/");
    if (!request.path.startsWith(prefix))
        return failure(404, 7003, QStringLiteral("Could not route to ") + request.path);
    const QStringList parts = request.path.mid(prefix.size()).split(QLatin1Char('/'));
    // <account>/pages/projects[/<name>/deployments]
    if (parts.size() < 3 || parts[1] != QLatin1String("pages") || parts[2] != QLatin1String("projects"))
        return failure(404, 7003, QStringLiteral("Could not route to ") + request.path);
    if (parts[0] != accountID)
        return failure(403, 10000, QStringLiteral("Authentication error"));
    if (parts.size() == 3 && request.method == "GET") {
        QJsonArray list;
        for (const QString& name : std::as_const(m_projects))
            list.append(project(name));
        return envelope(200, list);
    }
    if (parts.size() == 3 && request.method == "POST") {
        const QString name = request.json().value(QStringLiteral("name")).toString();
        if (request.json().value(QStringLiteral("production_branch")).toString() != QLatin1String("main"))
            return failure(400, 8000000, QStringLiteral("production_branch is required"));
        if (m_projects.contains(name) || takenElsewhere.contains(name))
            return failure(409, 8000007, QStringLiteral("A project with this name already exists."));
        m_projects << name;
        return envelope(200, project(name));
    }
    if (parts.size() == 5 && parts[4] == QLatin1String("deployments") && request.method == "POST") {
        if (!m_projects.contains(parts[3]))
            return failure(404, 8000007, QStringLiteral("Project not found"));
        const QJsonObject files =
            QJsonDocument::fromJson(request.body).object().value(QStringLiteral("files")).toObject();
        QMap<QString, QByteArray> served;
        for (auto it = files.begin(); it != files.end(); ++it)
            served.insert(it.key(), QByteArray::fromBase64(it.value().toString().toLatin1()));
        m_live.insert(parts[3], served);
        ++m_deployments;
        return envelope(
            200, QJsonObject{{QStringLiteral("id"), QStringLiteral("dep-%1").arg(m_deployments)},
                             {QStringLiteral("url"),
                              QStringLiteral("https://%1.%2.pages.dev").arg(m_deployments).arg(parts[3])}});
    }
    return failure(404, 7003, QStringLiteral("Could not route to ") + request.path);
}

FakeNpmRegistry::FakeNpmRegistry(QString packageFolder) : m_folder(std::move(packageFolder))
{
    m_server.setHandler([this](const FakeApiServer::Request& request) { return answer(request); });
}

bool FakeNpmRegistry::start()
{
    QFile manifest(QDir(m_folder).filePath(QStringLiteral("package.json")));
    if (!manifest.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject package = QJsonDocument::fromJson(manifest.readAll()).object();
    m_name = package.value(QStringLiteral("name")).toString();
    m_version = package.value(QStringLiteral("version")).toString();
    // npm wants the files under "package/" in a gzipped tar.
    QTemporaryDir staging;
    const QString inside = staging.filePath(QStringLiteral("package"));
    QProcess copy;
    copy.start(QStringLiteral("cp"), {QStringLiteral("-r"), m_folder, inside});
    if (!copy.waitForFinished() || copy.exitCode() != 0)
        return false;
    QProcess tar;
    tar.setWorkingDirectory(staging.path());
    tar.start(QStringLiteral("tar"),
              {QStringLiteral("-czf"), QStringLiteral("-"), QStringLiteral("package")});
    if (!tar.waitForFinished() || tar.exitCode() != 0)
        return false;
    m_tarball = tar.readAllStandardOutput();
    return m_server.start();
}

FakeApiServer::Response FakeNpmRegistry::answer(const FakeApiServer::Request& request)
{
    const QString tarballPath = QStringLiteral("/%1/-/%1-%2.tgz").arg(m_name, m_version);
    if (request.path == tarballPath) {
        ++m_downloads;
        return {200, m_tarball, "application/octet-stream", {}};
    }
    if (request.path != QLatin1Char('/') + m_name)
        return FakeApiServer::Response::json(404, R"({"error":"Not found"})");
    QFile manifest(QDir(m_folder).filePath(QStringLiteral("package.json")));
    manifest.open(QIODevice::ReadOnly);
    QJsonObject version = QJsonDocument::fromJson(manifest.readAll()).object();
    version.insert(QStringLiteral("_id"), m_name + QLatin1Char('@') + m_version);
    version.insert(
        QStringLiteral("dist"),
        QJsonObject{
            {QStringLiteral("tarball"), root() + tarballPath},
            {QStringLiteral("shasum"),
             QString::fromLatin1(QCryptographicHash::hash(m_tarball, QCryptographicHash::Sha1).toHex())},
            {QStringLiteral("integrity"),
             QStringLiteral("sha512-") +
                 QString::fromLatin1(
                     QCryptographicHash::hash(m_tarball, QCryptographicHash::Sha512).toBase64())}});
    const QJsonObject document{
        {QStringLiteral("name"), m_name},
        {QStringLiteral("dist-tags"), QJsonObject{{QStringLiteral("latest"), m_version}}},
        {QStringLiteral("versions"), QJsonObject{{m_version, version}}}};
    return FakeApiServer::Response::json(200, QJsonDocument(document).toJson(QJsonDocument::Compact));
}

} // namespace halvik::test
