#include "RemoteRepositoryCreator.h"

#include "async/HalvikError.h"

namespace halvik {

QString UnconnectedRemoteRepositoryCreator::noAccountMessage()
{
    return QStringLiteral("Connect a source control account first.");
}

QCoro::Task<CreatedRemoteRepository> UnconnectedRemoteRepositoryCreator::createRepository(SourceControlProvider,
                                                                                          QString, bool,
                                                                                          std::optional<QString>)
{
    throw HalvikError(noAccountMessage());
    co_return {};
}

QString providerDisplayName(SourceControlProvider provider)
{
    switch (provider) {
    case SourceControlProvider::github: return QStringLiteral("GitHub");
    case SourceControlProvider::gitlab: return QStringLiteral("GitLab");
    case SourceControlProvider::bitbucket: return QStringLiteral("Bitbucket");
    case SourceControlProvider::origin: return QStringLiteral("Cursor Origin");
    }
    return {};
}

} // namespace halvik
