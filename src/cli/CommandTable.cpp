#include "CommandTable.h"

#include "AccountsCli.h"
#include "AppearanceCommands.h"
#include "AssetsCommands.h"
#include "CloudCli.h"
#include "ComposerCommands.h"
#include "DeployCli.h"
#include "GitCli.h"
#include "HelpCommands.h"
#include "HostsCli.h"
#include "ImportCommands.h"
#include "MarketplaceCommands.h"
#include "NewSiteCommands.h"
#include "ProbeCommand.h"
#include "RuntimeCommands.h"
#include "ServeCommands.h"
#include "SitesCommands.h"
#include "StaticCli.h"
#include "StorageCli.h"
#include "UpdateCommand.h"

namespace halvik::cli {

const QList<CliCommand>& commandTable()
{
    static const QList<CliCommand> table = [] {
        QList<CliCommand> all;
        for (const QList<CliCommand>& group :
             {helpCommands(),        sitesCommands(),    probeCommands(),      importCommands(),
              runtimeCommands(),     serveCommands(),    appearanceCommands(), assetsCommands(),
              gitCommands(),         accountsCommands(), composerCommands(),   hostsCommands(),
              cloudCommands(),       deployCommands(),   staticCommands(),     storageCommands(),
              marketplaceCommands(), newSiteCommands(),  completionCommands(), updateCommands()})
            all += group;
        return all;
    }();
    return table;
}

const CliCommand* findCommand(const QString& word)
{
    for (const CliCommand& command : commandTable())
        if (command.answersTo(word))
            return &command;
    return nullptr;
}

} // namespace halvik::cli
