#include "ComposerFiles.h"

#include "ComposerServiceError.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <nlohmann/json.hpp>

#include <algorithm>

namespace halvik::ComposerFiles {

namespace {

using Json = nlohmann::json;

Json readJSON(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Json();
    const QByteArray bytes = file.readAll();
    Json document = Json::parse(bytes.constData(), bytes.constData() + bytes.size(), nullptr, false);
    return document.is_discarded() ? Json() : document;
}

std::optional<QString> stringAt(const Json& object, const char* key)
{
    if (!object.is_object())
        return std::nullopt;
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    return QString::fromStdString(it->get<std::string>());
}

const Json* objectAt(const Json& object, const char* key)
{
    if (!object.is_object())
        return nullptr;
    const auto it = object.find(key);
    return it != object.end() && it->is_object() ? &*it : nullptr;
}

// `'driver' => 'eloquent'` with either quote, any spacing.
bool selectsEloquentDriver(const QString& sitePath)
{
    QFile file(QDir(sitePath).filePath(QStringLiteral("config/quillmar/eloquent-driver.php")));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    static const QRegularExpression driver(QStringLiteral(R"(['"]driver['"]\s*=>\s*['"]eloquent['"])"));
    return driver.match(QString::fromUtf8(file.readAll())).hasMatch();
}

} // namespace

std::optional<QUrl> repositoryURL(const QString& raw)
{
    QString text = raw.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    static const QRegularExpression scp(QStringLiteral(R"(^git@([^:/]+):(.+)$)"));
    if (const auto match = scp.match(text); match.hasMatch())
        text = QStringLiteral("https://") + match.captured(1) + QLatin1Char('/') + match.captured(2);
    else if (text.startsWith(QLatin1String("git://")))
        text = QStringLiteral("https://") + text.mid(6);
    else if (text.startsWith(QLatin1String("ssh://git@")))
        text = QStringLiteral("https://") + text.mid(10);
    if (const qsizetype tree = text.indexOf(QLatin1String("/tree/")); tree >= 0)
        text.truncate(tree);
    if (text.endsWith(QLatin1String(".git")))
        text.chop(4);
    const QUrl url(text);
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    return url;
}

SiteManifest readManifest(const QString& sitePath)
{
    const QDir site(sitePath);
    SiteManifest manifest;
    const Json composer = readJSON(site.filePath(QStringLiteral("composer.json")));
    if (const Json* require = objectAt(composer, "require"))
        manifest.phpConstraint = stringAt(*require, "php");

    const Json installed = readJSON(site.filePath(QStringLiteral("vendor/composer/installed.json")));
    // Composer 1 wrote the array itself; Composer 2 puts it under "packages".
    const Json* list = nullptr;
    if (installed.is_array())
        list = &installed;
    else if (installed.is_object())
        if (const auto it = installed.find("packages"); it != installed.end() && it->is_array())
            list = &*it;

    bool hasEloquentDriver = false;
    if (list) {
        manifest.packages.reserve(qsizetype(list->size()));
        for (const Json& element : *list) {
            const auto name = stringAt(element, "name");
            const auto version = stringAt(element, "version");
            if (!name || !version)
                continue;
            InstalledPackage package{*name, *version, stringAt(element, "description"), std::nullopt};
            std::optional<QString> source;
            if (const Json* src = objectAt(element, "source"))
                source = stringAt(*src, "url");
            if (!source)
                if (const Json* support = objectAt(element, "support"))
                    source = stringAt(*support, "source");
            if (source)
                package.repositoryURL = repositoryURL(*source);
            if (*name == QLatin1String("laravel/framework"))
                manifest.laravelVersion = *version;
            else if (*name == QLatin1String("quillmar/cms"))
                manifest.quillmarVersion = *version;
            else if (*name == QLatin1String("quillmar/eloquent-driver"))
                hasEloquentDriver = true;
            manifest.packages.append(std::move(package));
        }
    }
    std::sort(manifest.packages.begin(), manifest.packages.end(),
              [](const InstalledPackage& a, const InstalledPackage& b) { return a.name < b.name; });
    if (hasEloquentDriver && selectsEloquentDriver(sitePath))
        manifest.contentStorage = ContentStorage::database;
    return manifest;
}

bool requiresCMS(const QString& sitePath)
{
    const Json composer = readJSON(QDir(sitePath).filePath(QStringLiteral("composer.json")));
    const Json* require = objectAt(composer, "require");
    return require && require->contains("quillmar/cms");
}

QList<OutdatedPackage> parseOutdated(const QString& output)
{
    const QByteArray bytes = output.trimmed().toUtf8();
    const Json document = Json::parse(bytes.constData(), bytes.constData() + bytes.size(), nullptr, false);
    if (document.is_discarded() || !document.is_object())
        throw ComposerServiceError::invalidJSON();
    const auto installed = document.find("installed");
    if (installed == document.end() || !installed->is_array())
        throw ComposerServiceError::invalidJSON();
    QList<OutdatedPackage> out;
    for (const Json& element : *installed) {
        const auto name = stringAt(element, "name");
        if (!name)
            continue;
        out.append({*name, stringAt(element, "description"), stringAt(element, "version"),
                    stringAt(element, "latest"), stringAt(element, "latest-status")});
    }
    return out;
}

QList<ConsoleCommand> parseConsoleCommands(const QString& output, const QString& tool)
{
    // Anything a script prints before its JSON (a deprecation notice) is skipped.
    const qsizetype start = output.indexOf(QLatin1Char('{'));
    if (start < 0)
        return {};
    const QByteArray bytes = output.mid(start).toUtf8();
    const Json document = Json::parse(bytes.constData(), bytes.constData() + bytes.size(), nullptr, false);
    if (document.is_discarded() || !document.is_object())
        return {};
    const auto commands = document.find("commands");
    if (commands == document.end() || !commands->is_array())
        return {};
    QList<ConsoleCommand> out;
    for (const Json& element : *commands) {
        if (!element.is_object())
            continue;
        if (const auto hidden = element.find("hidden");
            hidden != element.end() && hidden->is_boolean() && hidden->get<bool>())
            continue;
        const QString name = stringAt(element, "name").value_or(QString());
        if (name.isEmpty() || name.startsWith(QLatin1Char('_')))
            continue;
        out.append({tool, name, stringAt(element, "description").value_or(QString())});
    }
    return out;
}

QString normalizeShellCommand(const QString& command)
{
    if (command == QLatin1String("php") || command.startsWith(QLatin1String("php ")))
        return command;
    QString first = command.section(QLatin1Char(' '), 0, 0);
    if (first.startsWith(QLatin1String("./")))
        first = first.mid(2);
    if (first == QLatin1String("keffin") || first == QLatin1String("artisan") ||
        first == QLatin1String("composer"))
        return QStringLiteral("php ") + command;
    return command;
}

} // namespace halvik::ComposerFiles
