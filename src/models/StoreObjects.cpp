// The store codec over the shared records, apart from the codec itself so that the codec builds
// on its own (the fuzzing build needs no QObject records).
#include "StoreCodec.h"

namespace halvik::StoreCodec {

StoreDocument records(const StoreSnapshot& snapshot)
{
    StoreDocument document;
    for (const auto& site : snapshot.sites)
        document.sites.append(site->record());
    for (const auto& host : snapshot.hosts)
        document.hosts.append(host->record());
    document.sourceControlAccounts = snapshot.sourceControlAccounts;
    return document;
}

StoreSnapshot objects(const StoreDocument& document)
{
    StoreSnapshot snapshot;
    for (const auto& site : document.sites)
        snapshot.sites.append(Site::fromRecord(site));
    for (const auto& host : document.hosts)
        snapshot.hosts.append(HostAccount::fromRecord(host));
    snapshot.sourceControlAccounts = document.sourceControlAccounts;
    return snapshot;
}

} // namespace halvik::StoreCodec
