#include "CloudCommands.h"

#include <QRegularExpression>
#include <QStringList>

namespace halvik {

using nlohmann::json;

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

QString stringOf(const json& object, const char* key)
{
    if (!object.is_object())
        return {};
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return {};
    if (it->is_string())
        return QString::fromStdString(it->get<std::string>());
    return QString::fromStdString(it->dump());
}

bool isComment(const QString& line)
{
    return line.trimmed().startsWith(QLatin1Char('#'));
}

constexpr auto kVerifyConstant = "MYSQL_ATTR_SSL_VERIFY_SERVER_CERT";

// The `array_filter([...]) : []` options of the MySQL connections.
const QRegularExpression& optionsPattern()
{
    static const QRegularExpression pattern(s(R"(array_filter\(\[(.*?)\]\) : \[\])"),
                                            QRegularExpression::DotMatchesEverythingOption);
    return pattern;
}

} // namespace

QString CloudCommands::composerEnvironmentPrefix()
{
    return s("DB_CONNECTION=sqlite DB_DATABASE=database/database.sqlite CACHE_STORE=array "
             "CACHE_DRIVER=array SESSION_DRIVER=array QUEUE_CONNECTION=sync");
}

QString CloudCommands::sqliteStubLine()
{
    return s("mkdir -p database && touch database/database.sqlite");
}

QString CloudCommands::defaultBuildCommand()
{
    return QStringList{
        sqliteStubLine(),
        composerEnvironmentPrefix() +
            s(" composer install --no-dev --no-interaction --prefer-dist --optimize-autoloader"),
        QString(), s("npm ci --audit false"), s("npm run build")}
        .join(QLatin1Char('\n'));
}

QString CloudCommands::withSqliteBuildStub(const QString& command)
{
    if (command.contains(s("touch database/database.sqlite")))
        return command;
    return sqliteStubLine() + QLatin1Char('\n') + command;
}

QString CloudCommands::withSqliteComposerEnv(const QString& command)
{
    const QString full = composerEnvironmentPrefix();
    const QString partial = s("DB_CONNECTION=sqlite DB_DATABASE=database/database.sqlite ");
    QStringList lines = command.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.startsWith(QLatin1Char('#')) || line.startsWith(full))
            continue;
        if (line.startsWith(s("composer ")))
            line = full + QLatin1Char(' ') + line;
        else if (line.startsWith(partial))
            line = full + QLatin1Char(' ') + line.mid(partial.size());
    }
    return lines.join(QLatin1Char('\n'));
}

QString CloudCommands::buildCommandEnablingNpm(const QString& command)
{
    const QStringList lines = command.split(QLatin1Char('\n'));
    for (const QString& line : lines)
        if (!isComment(line) && line.trimmed().startsWith(s("npm ")))
            return command;
    if (command.contains(s("npm run build")) || command.contains(s("npm build")))
        return command;
    return command + s("\n\nnpm ci --audit false\nnpm run build");
}

QString CloudCommands::withMigrateDeployCommand(const std::optional<QString>& command)
{
    const QString current = command.value_or(QString()).trimmed();
    if (current.isEmpty())
        return s("php artisan migrate --force");
    if (current.contains(s("artisan migrate")))
        return *command;
    return current + s("\nphp artisan migrate --force");
}

QString CloudCommands::withDatabaseSslPatch(const QString& command)
{
    if (command.contains(QLatin1String(kVerifyConstant)))
        return command;
    // Single-quoted for the shell; PHP leaves "$1" alone inside its double quotes.
    const QString oneLiner =
        s("php -r '$f=\"config/database.php\"; if (is_file($f)) { $c=file_get_contents($f); "
          "if (strpos($c, \"MYSQL_ATTR_SSL_VERIFY_SERVER_CERT\") === false) { "
          "$c=preg_replace(\"/array_filter\\(\\[(.*?)\\]\\) : \\[\\]/s\", "
          "\"array_filter([$1]) + [PDO::MYSQL_ATTR_SSL_VERIFY_SERVER_CERT=>false] : []\", $c, 2); "
          "file_put_contents($f, $c); } }'");
    QStringList lines = command.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines.at(i).trimmed() == sqliteStubLine()) {
            lines.insert(i + 1, oneLiner);
            return lines.join(QLatin1Char('\n'));
        }
    return command + QLatin1Char('\n') + oneLiner;
}

QString CloudCommands::preparedBuildCommand(const std::optional<QString>& current, bool hasPackageJson)
{
    QString command = current.value_or(QString());
    if (command.trimmed().isEmpty())
        command = defaultBuildCommand();
    command = withSqliteBuildStub(command);
    command = withDatabaseSslPatch(command);
    if (hasPackageJson)
        command = buildCommandEnablingNpm(command);
    return withSqliteComposerEnv(command);
}

QString CloudCommands::patchDatabaseConfig(const QString& text)
{
    if (text.contains(QLatin1String(kVerifyConstant)))
        return text;
    QString patched;
    qsizetype from = 0;
    int rewritten = 0;
    auto matches = optionsPattern().globalMatch(text);
    while (matches.hasNext() && rewritten < 2) {
        const auto match = matches.next();
        patched += text.mid(from, match.capturedStart() - from);
        patched += s("array_filter([") + match.captured(1) +
                   s("]) + [PDO::MYSQL_ATTR_SSL_VERIFY_SERVER_CERT=>false] : []");
        from = match.capturedEnd();
        ++rewritten;
    }
    return patched + text.mid(from);
}

QString CloudCommands::mysqlClusterName(const QString& appName)
{
    QString name;
    bool pendingDash = false;
    for (const QChar c : appName.toLower()) {
        if (c.isLetterOrNumber() && c.unicode() < 128) {
            if (pendingDash && !name.isEmpty())
                name += QLatin1Char('-');
            pendingDash = false;
            name += c;
        } else {
            pendingDash = true;
        }
    }
    if (name.isEmpty())
        name = s("quillmar");
    else if (name.size() < 3)
        name += s("-app");
    const QString suffix = s("-db");
    QString base = name.endsWith(suffix) ? name.chopped(suffix.size()) : name;
    if (base.size() + suffix.size() > 40) {
        base = base.left(37);
        while (base.endsWith(QLatin1Char('-')))
            base.chop(1);
    }
    return base + suffix;
}

QString CloudCommands::defaultApplicationName(const QString& slug, const QString& displayName)
{
    QString name = slug.trimmed();
    if (name.size() < 3)
        name = displayName.trimmed();
    if (name.size() < 3)
        name = s("quillmar-site");
    return name.left(40);
}

bool CloudCommands::isValidApplicationName(const QString& name)
{
    const qsizetype length = name.trimmed().size();
    return length >= 3 && length <= 40;
}

QString CloudCommands::formatLogs(const json& body)
{
    QStringList lines;
    if (body.is_object()) {
        const auto meta = body.find("meta");
        if (meta != body.end() && meta->is_object()) {
            const QString status = stringOf(*meta, "deployment_status");
            if (!status.isEmpty())
                lines << status;
        }
        const auto data = body.find("data");
        if (data != body.end() && data->is_object()) {
            const auto steps = data->find("steps");
            if (steps != data->end() && steps->is_array())
                for (const json& step : *steps) {
                    lines << s("[%1] %2 %3")
                                 .arg(stringOf(step, "step"), stringOf(step, "status"),
                                      stringOf(step, "description"))
                                 .trimmed();
                    const QString output = stringOf(step, "output");
                    if (!output.isEmpty())
                        lines << output;
                }
        }
    }
    return lines.join(QLatin1Char('\n'));
}

QString CloudCommands::statusLabel(const QString& status)
{
    const QString lower = status.toLower();
    if (lower.contains(s("succeed")))
        return s("Deployed");
    if (lower.contains(s("fail")))
        return s("Failed");
    if (lower.contains(s("cancel")))
        return s("Cancelled");
    if (lower.contains(s("build")))
        return s("Building");
    if (lower.contains(s("deploy")))
        return s("Deploying");
    return status;
}

} // namespace halvik
