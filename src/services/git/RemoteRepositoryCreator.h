#pragma once

#include "models/Enums.h"

#include <QCoroTask>
#include <QString>

#include <optional>

namespace halvik {

// A repository just created on a source-control provider.
struct CreatedRemoteRepository
{
    QString fullName;
    QString cloneURL;
    QString webURL;

    bool operator==(const CreatedRemoteRepository&) const = default;
};

// What the Git workspace needs from the source-control accounts: create a repository on a
// provider and hand out the token that pushes to it.
class RemoteRepositoryCreator
{
public:
    virtual ~RemoteRepositoryCreator() = default;

    virtual QCoro::Task<CreatedRemoteRepository> createRepository(SourceControlProvider provider,
                                                                  QString name, bool isPrivate,
                                                                  std::optional<QString> owner) = 0;
    virtual std::optional<QString> token(SourceControlProvider provider) const = 0;
};

// Stands in until accounts can be connected: every request fails the way it does when no
// account is connected.
class UnconnectedRemoteRepositoryCreator : public RemoteRepositoryCreator
{
public:
    QCoro::Task<CreatedRemoteRepository> createRepository(SourceControlProvider provider, QString name,
                                                          bool isPrivate,
                                                          std::optional<QString> owner) override;
    std::optional<QString> token(SourceControlProvider) const override { return std::nullopt; }

    static QString noAccountMessage();
};

} // namespace halvik
