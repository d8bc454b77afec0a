#include "LaravelConfigurationResolver.h"

#include "services/ProcessRunner.h"

#include <QTimer>

#include <nlohmann/json.hpp>

namespace halvik {

namespace {

constexpr auto marker = "HALVIK_CONFIGURATION:";

// Boots the site's console kernel and prints one allowed setting as JSON after the marker.
const char* const script = R"PHP(
$key = $argv[1] ?? '';
if (!is_file('vendor/autoload.php') || !is_file('bootstrap/app.php')) {
    fwrite(STDERR, "The site is missing its Laravel bootstrap or Composer dependencies. Run Composer install and retry.\n");
    exit(1);
}
require 'vendor/autoload.php';
$app = require 'bootstrap/app.php';
$app->make(Illuminate\Contracts\Console\Kernel::class)->bootstrap();
$defaults = ['quillmar.cp.route' => 'cp', 'quillmar.ssg.destination' => storage_path('app/static')];
if (!array_key_exists($key, $defaults)) {
    fwrite(STDERR, "Unsupported configuration key.\n");
    exit(1);
}
$value = config($key, $defaults[$key]);
if (!is_string($value)) {
    fwrite(STDERR, $key." must be a string.\n");
    exit(1);
}
echo "HALVIK_CONFIGURATION:".json_encode(['value' => $value], JSON_UNESCAPED_SLASHES | JSON_UNESCAPED_UNICODE)."\n";
)PHP";

} // namespace

QString LaravelConfigurationResolver::timedOutText(std::chrono::milliseconds limit)
{
    const QString seconds = QString::number(double(limit.count()) / 1000.0);
    return QStringLiteral("The site’s configuration didn’t load within %1 %2.")
        .arg(seconds, seconds == QLatin1String("1") ? QStringLiteral("second") : QStringLiteral("seconds"));
}

std::optional<QString> LaravelConfigurationResolver::valueFrom(const QString& output)
{
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QString line = it->trimmed();
        if (!line.startsWith(QLatin1String(marker)))
            continue;
        const std::string json = line.mid(int(qstrlen(marker))).toStdString();
        const auto parsed = nlohmann::json::parse(json, nullptr, false);
        if (!parsed.is_object() || !parsed.contains("value") || !parsed["value"].is_string())
            return std::nullopt;
        return QString::fromStdString(parsed["value"].get<std::string>());
    }
    return std::nullopt;
}

QCoro::Task<QString> LaravelConfigurationResolver::string(QString setting, QString siteFolder, QString php,
                                                          QMap<QString, QString> environment)
{
    ProcessRequest request;
    request.executable = std::move(php);
    request.arguments = {QStringLiteral("-r"), QString::fromUtf8(script), setting};
    request.workingDirectory = std::move(siteFolder);
    request.environment = std::move(environment);
    CancellationSource giveUp;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &limit, [&giveUp] { giveUp.cancel(); });
    limit.start(m_timeLimit);
    ProcessResult result;
    try {
        result = co_await m_runner.run(std::move(request), {}, giveUp.token());
    } catch (const ProcessRunnerError& error) {
        if (error.isCancelled())
            throw LaravelConfigurationError(timedOutText(m_timeLimit));
        throw;
    }
    limit.stop();
    const std::optional<QString> value =
        result.exitCode == 0 ? valueFrom(result.stdout.text()) : std::nullopt;
    if (value)
        co_return *value;
    const QString output = result.combined().trimmed();
    if (output.isEmpty())
        throw LaravelConfigurationError(QStringLiteral("The site did not return a configuration value."));
    throw LaravelConfigurationError(
        QStringLiteral("Couldn’t read %1 from this site’s configuration.\n\n%2").arg(setting, output));
}

} // namespace halvik
