#include "PackagistClient.h"

#include <nlohmann/json.hpp>

#include <QRegularExpression>

namespace halvik {

namespace {

using Json = nlohmann::json;

QString stringAt(const Json& object, const char* key)
{
    if (!object.is_object())
        return {};
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? QString::fromStdString(it->get<std::string>()) : QString();
}

std::optional<QDateTime> isoDate(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    QDateTime date = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!date.isValid())
        date = QDateTime::fromString(text, Qt::ISODate);
    if (!date.isValid())
        return std::nullopt;
    return date.toUTC();
}

} // namespace

QUrl PackagistClient::systemRepository()
{
    const QString configured = qEnvironmentVariable("HALVIK_PACKAGIST_URL").trimmed();
    return QUrl(configured.isEmpty() ? QString::fromLatin1(defaultRepository) : configured);
}

std::optional<QUrl> PackagistClient::metadataURL(const QString& package) const
{
    static const QRegularExpression name(QStringLiteral(R"(^[^/\s]+/[^/\s]+$)"));
    const QString trimmed = package.trimmed();
    if (!m_repository.isValid() || m_repository.scheme().isEmpty() || !name.match(trimmed).hasMatch())
        return std::nullopt;
    QUrl url = m_repository;
    QString base = url.path(QUrl::FullyEncoded);
    if (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    // The slash between vendor and name stays a path separator; everything else is encoded.
    const qsizetype slash = trimmed.indexOf(QLatin1Char('/'));
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(trimmed.left(slash))) +
                            QLatin1Char('/') +
                            QString::fromLatin1(QUrl::toPercentEncoding(trimmed.mid(slash + 1)));
    url.setPath(base + QStringLiteral("/p2/") + encoded + QStringLiteral(".json"), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

QList<PackagistVersion> PackagistClient::parseVersions(const QByteArray& body, const QString& package)
{
    const Json document = Json::parse(body.constData(), body.constData() + body.size(), nullptr, false);
    if (document.is_discarded() || !document.is_object())
        throw PackagistError::invalidJSON();
    const auto packages = document.find("packages");
    if (packages == document.end() || !packages->is_object())
        throw PackagistError::invalidJSON();
    const auto list = packages->find(package.trimmed().toStdString());
    if (list == packages->end() || !list->is_array())
        throw PackagistError::invalidJSON();

    // The service sends each version as a difference from the one before it ("minified"):
    // a key left out keeps the previous value, "__unset" removes it.
    const bool minified = stringAt(document, "minified") == QLatin1String("composer/2.0");
    QList<PackagistVersion> out;
    Json previous = Json::object();
    for (const Json& listed : *list) {
        if (!listed.is_object())
            continue;
        Json entry = listed;
        if (minified) {
            entry = previous;
            for (auto it = listed.begin(); it != listed.end(); ++it) {
                if (it->is_string() && it->get<std::string>() == "__unset")
                    entry.erase(it.key());
                else
                    entry[it.key()] = *it;
            }
            previous = entry;
        }
        const QString version = stringAt(entry, "version");
        if (version.isEmpty() || version.startsWith(QLatin1String("dev-")))
            continue;
        PackagistVersion item{version, isoDate(stringAt(entry, "time")), std::nullopt, false};
        if (const auto require = entry.find("require"); require != entry.end()) {
            const QString php = stringAt(*require, "php");
            if (!php.isEmpty())
                item.requirePHP = php;
        }
        if (const auto abandoned = entry.find("abandoned"); abandoned != entry.end())
            item.abandoned = (abandoned->is_boolean() && abandoned->get<bool>()) ||
                             (abandoned->is_string() && !abandoned->get<std::string>().empty());
        out.append(std::move(item));
    }
    return out;
}

QCoro::Task<QList<PackagistVersion>> PackagistClient::versions(QString package, CancellationToken token)
{
    const auto url = metadataURL(package);
    if (!url)
        throw PackagistError::badURL();
    const HttpFetcher::Reply reply = co_await m_http.get(*url, token);
    if (!reply.ok())
        throw PackagistError::badServerResponse(reply.status);
    co_return parseVersions(reply.body, package);
}

} // namespace halvik
