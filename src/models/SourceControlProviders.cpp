#include "SourceControlProviders.h"

#include "gitcore/SourceControlProviderKind.h"

namespace halvik {

std::optional<SourceControlProvider> sourceControlProviderFromRemoteURL(const QString& remoteURL)
{
    const auto kind = gitcore::SourceControlProviderKind::fromRemoteURL(remoteURL);
    if (!kind)
        return std::nullopt;
    return fromRaw<SourceControlProvider>(toRaw(*kind));
}

} // namespace halvik
