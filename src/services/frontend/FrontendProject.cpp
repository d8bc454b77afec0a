#include "FrontendProject.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <nlohmann/json.hpp>

namespace halvik::FrontendProject {

namespace {

using Json = nlohmann::json;

bool anyFileExists(const QDir& dir, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        if (QFileInfo::exists(dir.filePath(QLatin1String(name))))
            return true;
    return false;
}

bool runsDevServer(const QString& command, bool orVite)
{
    return command.contains(QLatin1String("webpack-dev-server")) ||
           command.contains(QLatin1String("--hot")) || (orVite && command.contains(QLatin1String("vite")));
}

BundlerKind bundlerOf(const Json& package, const QDir& dir)
{
    QSet<QString> dependencies;
    for (const char* key : {"dependencies", "devDependencies", "peerDependencies"}) {
        const auto it = package.find(key);
        if (it == package.end() || !it->is_object())
            continue;
        for (auto dep = it->begin(); dep != it->end(); ++dep)
            dependencies.insert(QString::fromStdString(dep.key()));
    }
    const auto hasAny = [&dependencies](std::initializer_list<const char*> names) {
        for (const char* name : names)
            if (dependencies.contains(QLatin1String(name)))
                return true;
        return false;
    };
    if (hasAny({"vite", "laravel-vite-plugin"}))
        return BundlerKind::vite;
    if (hasAny({"laravel-mix", "webpack", "webpack-dev-server"}))
        return BundlerKind::webpack;
    if (anyFileExists(dir, {"vite.config.js", "vite.config.ts", "vite.config.mjs", "vite.config.cjs"}))
        return BundlerKind::vite;
    if (anyFileExists(dir, {"webpack.mix.js", "webpack.config.js", "webpack.config.ts"}))
        return BundlerKind::webpack;
    return BundlerKind::unknown;
}

std::optional<QString> firstPresent(const QHash<QString, QString>& scripts,
                                    std::initializer_list<const char*> names)
{
    for (const char* name : names)
        if (scripts.contains(QLatin1String(name)))
            return QString::fromLatin1(name);
    return std::nullopt;
}

std::optional<QString> firstDevServer(const QHash<QString, QString>& scripts,
                                      std::initializer_list<const char*> names, bool orVite)
{
    for (const char* name : names) {
        const auto it = scripts.constFind(QLatin1String(name));
        if (it != scripts.constEnd() && runsDevServer(*it, orVite))
            return QString::fromLatin1(name);
    }
    return std::nullopt;
}

std::optional<QUrl> firstAddress(const QString& line)
{
    static const QRegularExpression address(QStringLiteral(R"(https?://[^\s]+)"));
    const QRegularExpressionMatch match = address.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    QUrl url(match.captured(0));
    return url.isValid() ? std::optional(url) : std::nullopt;
}

} // namespace

std::optional<Info> inspect(const QString& folder)
{
    const QDir dir(folder);
    QFile file(dir.filePath(QStringLiteral("package.json")));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    const Json package = Json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (!package.is_object())
        return std::nullopt;

    QHash<QString, QString> scripts;
    if (const auto it = package.find("scripts"); it != package.end() && it->is_object())
        for (auto script = it->begin(); script != it->end(); ++script)
            if (script->is_string())
                scripts.insert(QString::fromStdString(script.key()),
                               QString::fromStdString(script->get<std::string>()));

    Info info;
    info.nodeModulesPresent = QFileInfo(dir.filePath(QStringLiteral("node_modules"))).isDir();
    info.bundler = bundlerOf(package, dir);
    switch (info.bundler) {
    case BundlerKind::vite:
        if (scripts.value(QStringLiteral("dev")).contains(QLatin1String("vite")))
            info.devScriptName = QStringLiteral("dev");
        info.buildScriptName = firstPresent(scripts, {"build"});
        break;
    case BundlerKind::webpack:
        info.devScriptName = scripts.contains(QStringLiteral("hot"))
                                 ? std::optional(QStringLiteral("hot"))
                                 : firstDevServer(scripts, {"watch", "dev"}, false);
        info.buildScriptName = firstPresent(scripts, {"production", "prod", "build"});
        break;
    case BundlerKind::unknown:
        info.devScriptName = firstDevServer(scripts, {"dev", "hot", "watch"}, true);
        info.buildScriptName = firstPresent(scripts, {"build", "production", "prod"});
        break;
    }
    info.hasBuildScript = info.buildScriptName.has_value();
    return info;
}

std::optional<QUrl> readHotFileURL(const QString& folder)
{
    QFile file(QDir(folder).filePath(QStringLiteral("public/hot")));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return firstAddress(QString::fromUtf8(file.read(4096)).trimmed());
}

QString withoutTerminalCodes(const QString& text)
{
    // CSI sequences (colours, cursor moves), OSC sequences (titles, links), then any other
    // escape pair and the remaining control characters except tab and line feed.
    static const QRegularExpression codes(QStringLiteral(
        "\\x1B\\[[0-?]*[ "
        "-/"
        "]*[@-~]|\\x1B\\][^\\x07\\x1B]*(?:\\x07|\\x1B\\\\)|\\x1B[@-Z\\\\-_]|[\\x00-\\x08\\x0B-\\x1F\\x7F]"));
    if (!text.contains(QChar(0x1B)) && std::none_of(text.cbegin(), text.cend(), [](QChar c) {
            return c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\t');
        }))
        return text;
    QString clean = text;
    clean.remove(codes);
    return clean;
}

std::optional<QUrl> parseDevServerURL(const QString& output)
{
    // A dev server can print hundreds of thousands of lines at once; only a line holding
    // "http" can hold the address, so the search jumps from one of those to the next, last
    // line first, and cleans and reads just those lines.
    const QStringView text(output);
    qsizetype searchFrom = text.size() - 1;
    while (searchFrom >= 0) {
        const qsizetype hit = text.lastIndexOf(u"http", searchFrom);
        if (hit < 0)
            break;
        const qsizetype start = text.lastIndexOf(QLatin1Char('\n'), hit) + 1;
        qsizetype end = text.indexOf(QLatin1Char('\n'), hit);
        if (end < 0)
            end = text.size();
        const QString line = withoutTerminalCodes(text.sliced(start, end - start).toString());
        const QString lower = line.toLower();
        if (lower.contains(QLatin1String("local:")) || lower.contains(QLatin1String("running at")) ||
            lower.contains(QLatin1String("listening on")))
            if (const auto url = firstAddress(line))
                return url;
        searchFrom = start - 2; // the line before this one
    }
    return std::nullopt;
}

} // namespace halvik::FrontendProject
