#include "AppearanceRunners.h"

#include "cli/CliContext.h"
#include "cli/CliJson.h"

#include "services/ReachabilityProbe.h"
#include "services/appearance/AppearanceFiles.h"
#include "services/appearance/SiteAppearanceService.h"
#include "services/serving/LocalServer.h"
#include "services/serving/SiteProcesses.h"

#include <QCoroFuture>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

namespace halvik::cli {

namespace {

using Parts = SiteAppearanceService::Parts;
using appearance::AppearanceFiles;

struct AppearanceArguments
{
    SitePtr site;
    bool refresh = false;
    bool json = false;
    std::optional<QString> output;
};

AppearanceArguments parse(AppServices& services, const QString& verb, const QStringList& args)
{
    AppearanceArguments parsed;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QStringLiteral("--refresh")) {
            parsed.refresh = true;
        } else if (arg == QStringLiteral("--json")) {
            parsed.json = true;
        } else if (arg == QStringLiteral("--output")) {
            if (i + 1 >= args.size())
                throw CliError::usage(QStringLiteral("--output takes the PNG file to write."));
            parsed.output = args[++i];
        } else if (arg.startsWith(QStringLiteral("--"))) {
            throw CliError::usage(QStringLiteral("Unknown option %1 for %2.").arg(arg, verb));
        } else {
            positional << arg;
        }
    }
    if (positional.size() != 1)
        throw CliError::usage(
            QStringLiteral("Usage: halvik %1 <site> [--refresh] [--output FILE.png] [--json]").arg(verb));
    parsed.site = resolveSite(services.store(), positional.first());
    return parsed;
}

QString fetchedText(const std::optional<QDateTime>& when)
{
    return when ? when->toUTC().toString(Qt::ISODateWithMs) : QString();
}

void copyTo(const QString& from, const QString& to)
{
    QFile::remove(to);
    if (!QFile::copy(from, to))
        throw CliError(QStringLiteral("Couldn’t write %1.").arg(to));
}

QCoro::Task<int> runIcon(AppServices& services, QStringList args)
{
    const AppearanceArguments call = parse(services, QStringLiteral("icon"), args);
    SiteAppearanceService& appearance = services.appearance();
    // A site nothing serves gets its icon from its project files only.
    const AppearanceRefresh result =
        co_await appearance.refreshNow(call.site, services.siteURL(*call.site), call.refresh, Parts::favicon);
    const QString path = appearance.files(call.site->id()).faviconPath();
    const QString site = uuidString(call.site->id());
    auto work1 = QtConcurrent::run([path] { return QFileInfo::exists(path); });
    const bool present = co_await work1;
    const auto fetched = present ? AppearanceFiles::cacheDate(path) : std::nullopt;
    if (call.json) {
        printJson(out(), Json{{"site", utf8(site)},
                              {"path", present ? Json(utf8(path)) : Json(nullptr)},
                              {"fetchedAt", present ? Json(utf8(fetchedText(fetched))) : Json(nullptr)},
                              {"refreshed", result.faviconRefreshed},
                              {"from", optionalJson(result.faviconFrom)},
                              {"monogram", !present}});
    } else if (!present) {
        out() << "No icon: Halvik shows a monogram.\n";
    } else {
        out() << path << '\n' << "Fetched " << fetchedText(fetched) << '\n';
        if (result.faviconFrom)
            out() << "From " << *result.faviconFrom << '\n';
    }
    if (call.output) {
        if (!present)
            throw CliError(QStringLiteral("No icon: Halvik shows a monogram."));
        copyTo(path, *call.output);
    }
    co_return 0;
}

// The URL the site answers at; when none answers, Halvik's own server is started for the
// capture (`started` says so, and the caller stops it).
QCoro::Task<QUrl> answeringURL(AppServices& services, SitePtr site, bool* started)
{
    if (const auto url = services.siteURL(*site)) {
        const Reachability answer = co_await ReachabilityProbe::probe(*url);
        if (answer.isServing())
            co_return *url;
        if (services.localServer().isRunning(site->id()))
            co_return *url; // Halvik's own server, still starting
    }
    SiteProcesses& processes = services.processes();
    if (const auto error = processes.startServer(site))
        throw CliError(*error);
    *started = true;
    if (const auto error = co_await processes.waitForServer(site->id())) {
        processes.stopServer(site->id());
        throw CliError(*error);
    }
    co_return *services.localServer().url(site->id());
}

QCoro::Task<int> runPreview(AppServices& services, QStringList args)
{
    const AppearanceArguments call = parse(services, QStringLiteral("preview"), args);
    SiteAppearanceService& appearance = services.appearance();
    const QString path = appearance.files(call.site->id()).screenshotPath();
    const QString projectPath = call.site->path();
    bool stale = call.refresh;
    if (!stale) {
        auto checking =
            QtConcurrent::run([path, projectPath] { return appearance::needsScreenshot(path, projectPath); });
        stale = co_await checking;
    }
    AppearanceRefresh result;
    if (stale) {
        bool started = false;
        const QUrl url = co_await answeringURL(services, call.site, &started);
        result = co_await appearance.refreshNow(call.site, url, true, Parts::screenshot);
        if (started)
            services.processes().stopServer(call.site->id());
    }
    const QString site = uuidString(call.site->id());
    auto work3 = QtConcurrent::run([path] { return QFileInfo::exists(path); });
    const bool present = co_await work3;
    const auto fetched = present ? AppearanceFiles::cacheDate(path) : std::nullopt;
    if (call.json)
        printJson(out(),
                  Json{{"site", utf8(site)},
                       {"path", present ? Json(utf8(path)) : Json(nullptr)},
                       {"fetchedAt", present ? Json(utf8(fetchedText(fetched))) : Json(nullptr)},
                       {"refreshed", result.screenshotRefreshed},
                       {"failed", result.previewFailed},
                       {"url", result.failedURL ? Json(utf8(result.failedURL->toString())) : Json(nullptr)}});
    else if (present)
        out() << path << '\n' << "Fetched " << fetchedText(fetched) << '\n';
    if (result.previewFailed)
        throw CliError(
            QStringLiteral("Halvik couldn’t take a preview of %1.").arg(result.failedURL->toString()));
    if (!present && !call.json)
        out() << "No preview yet.\n";
    if (call.output) {
        if (!present)
            throw CliError(QStringLiteral("No preview yet."));
        copyTo(path, *call.output);
    }
    co_return 0;
}

} // namespace

AppearanceRunners drawingAppearanceRunners()
{
    return {.icon = [](CliCall& call) { return runIcon(call.app(), call.args); },
            .preview = [](CliCall& call) { return runPreview(call.app(), call.args); }};
}

} // namespace halvik::cli
