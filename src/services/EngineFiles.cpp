#include "EngineFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <nlohmann/json.hpp>

namespace halvik::EngineFiles {

namespace {

using Json = nlohmann::json;

// The engine's config.json; anything unreadable reads as an empty object.
Json configJson(const QString& configFolder)
{
    QFile file(configFolder + QStringLiteral("/config.json"));
    if (!file.open(QIODevice::ReadOnly))
        return Json::object();
    const QByteArray bytes = file.readAll();
    Json json = Json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    return json.is_object() ? json : Json::object();
}

QString text(const Json& value)
{
    return QString::fromStdString(value.get<std::string>());
}

} // namespace

QString standardized(const QString& path)
{
    QString clean = QDir::cleanPath(path);
    if (clean.size() > 1 && clean.endsWith(u'/'))
        clean.chop(1);
    return clean;
}

QString tld(const QString& configFolder)
{
    const Json config = configJson(configFolder);
    const auto value = config.find("tld");
    return value != config.end() && value->is_string() ? text(*value) : QStringLiteral("test");
}

QStringList parkedPaths(const QString& configFolder)
{
    QStringList paths;
    const Json config = configJson(configFolder);
    const auto list = config.find("paths");
    if (list == config.end() || !list->is_array())
        return paths;
    for (const Json& value : *list)
        if (value.is_string())
            paths << text(value);
    return paths;
}

std::optional<QString> linkedName(const QString& configFolder, const QString& path)
{
    const QDir sites(configFolder + QStringLiteral("/Sites"));
    const QString wanted = standardized(path);
    for (const QFileInfo& entry :
         sites.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        if (!entry.isSymLink())
            continue;
        // Qt resolves a relative destination against the Sites folder.
        const QString target = entry.symLinkTarget();
        if (!target.isEmpty() && standardized(target) == wanted)
            return entry.fileName();
    }
    return std::nullopt;
}

std::optional<QString> isolatedVersion(const QString& configFolder, const QString& domain)
{
    QFile file(configFolder + QStringLiteral("/Nginx/") + domain);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString text = QString::fromUtf8(file.readAll());
    static const QString marker = QStringLiteral("ISOLATED_PHP_VERSION=");
    const qsizetype at = text.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    qsizetype end = at + marker.size();
    while (end < text.size() && !text[end].isSpace() && text[end] != u';' && text[end] != u'"')
        ++end;
    const QString version = text.mid(at + marker.size(), end - at - marker.size());
    return version.isEmpty() ? std::nullopt : std::optional(version);
}

QStringList nginxErrorTail(const QString& logFolder, int lines)
{
    QFileInfo newest;
    for (const QFileInfo& entry : QDir(logFolder).entryInfoList(QDir::Files)) {
        if (!entry.fileName().contains(QLatin1String("nginx")) ||
            !entry.fileName().contains(QLatin1String("error")))
            continue;
        if (!newest.exists() || entry.lastModified() > newest.lastModified())
            newest = entry;
    }
    QFile file(newest.filePath());
    if (newest.filePath().isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    constexpr qint64 window = 16384;
    if (file.size() > window)
        file.seek(file.size() - window);
    const QStringList all = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines <= 0 ? QStringList() : all.mid(std::max<qsizetype>(0, all.size() - lines));
}

} // namespace halvik::EngineFiles
