#include "AppearanceCommands.h"

#include "CliContext.h"
#include "CliJson.h"

namespace halvik::cli {

namespace {

AppearanceRunners& runners()
{
    static AppearanceRunners installed;
    return installed;
}

QCoro::Task<int> run(CliRunner runner, CliCall& call)
{
    if (!runner)
        throw CliError(QStringLiteral("“%1” draws images, which this program cannot: run it with halvik.")
                           .arg(call.verb));
    co_return co_await runner(call);
}

CliForm form(const QString& help)
{
    return {
        .arguments = QStringLiteral("<site> [--refresh] [--output FILE.png] [--json]"),
        .help = help,
        .options = {{QStringLiteral("--refresh"), {}, QStringLiteral("fetch it again even when it is fresh")},
                    {QStringLiteral("--output"), QStringLiteral("FILE.png"),
                     QStringLiteral("copy the PNG to this file")},
                    jsonOption()}};
}

} // namespace

void setAppearanceRunners(AppearanceRunners installed)
{
    runners() = installed;
}

QList<CliCommand> appearanceCommands()
{
    return {
        {.verb = QStringLiteral("icon"),
         .summary = QStringLiteral("a site’s icon"),
         .drawsImages = true,
         .run = [](CliCall& call) { return run(runners().icon, call); },
         .forms = {form(
             QStringLiteral("bring the site’s icon up to date and print its file and fetch time"))}},
        {.verb = QStringLiteral("preview"),
         .summary = QStringLiteral("a preview of a site’s home page"),
         .drawsImages = true,
         .run = [](CliCall& call) { return run(runners().preview, call); },
         .forms = {form(QStringLiteral("bring the site’s home-page preview up to date, serving the site for "
                                       "it when nothing does, and print its file and fetch time"))}},
    };
}

} // namespace halvik::cli
