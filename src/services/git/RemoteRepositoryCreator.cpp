#include "RemoteRepositoryCreator.h"

#include "async/HalvikError.h"

namespace halvik {

QString UnconnectedRemoteRepositoryCreator::noAccountMessage()
{
    return QStringLiteral("Connect a source control account first.");
}

QCoro::Task<CreatedRemoteRepository>
UnconnectedRemoteRepositoryCreator::createRepository(SourceControlProvider, QString, bool,
                                                     std::optional<QString>)
{
    throw HalvikError(noAccountMessage());
    co_return {};
}

} // namespace halvik
