#include "UpdateCommand.h"

#include "CliContext.h"
#include "CliJson.h"

#include "services/updates/UpdateChecker.h"

namespace halvik::cli {

namespace {

QCoro::Task<int> checkUpdate(CliCall& call)
{
    const bool json = call.args.removeAll(QStringLiteral("--json")) > 0;
    if (!call.args.isEmpty())
        throw CliError::usage(QStringLiteral("Unknown option %1 for check-update.").arg(call.args.first()));
    UpdateChecker checker;
    UpdateCheckResult result;
    try {
        result = co_await checker.check();
    } catch (const UpdateCheckError& error) {
        throw CliError(error.description());
    }
    if (json) {
        printJson(out(), Json{{"current", utf8(result.currentVersion)},
                              {"latest", utf8(result.latest.version)},
                              {"available", result.isUpdateAvailable()},
                              {"url", utf8(result.latest.url.toString())},
                              {"notes", utf8(result.latest.notes)},
                              {"message", utf8(result.message())}});
    } else {
        out() << result.message() << '\n';
        if (result.isUpdateAvailable()) {
            out() << "Download: " << result.latest.url.toString() << '\n';
            if (!result.latest.notes.isEmpty())
                out() << '\n' << result.latest.notes << '\n';
        }
    }
    out().flush();
    co_return 0;
}

} // namespace

QList<CliCommand> updateCommands()
{
    return {
        {.verb = QStringLiteral("check-update"),
         .summary = QStringLiteral("look for a newer Halvik in the release feed"),
         .needs = CliCommand::Needs::nothing,
         .run = checkUpdate,
         .forms =
             {{.arguments = QStringLiteral("[--json]"),
               .help = QStringLiteral("say whether a newer Halvik is out, and where to download it"),
               .options = {{QStringLiteral("--json"), {}, QStringLiteral("print the result as JSON")}}}}},
    };
}

} // namespace halvik::cli
