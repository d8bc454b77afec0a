#pragma once

#include "gitcore/EnumTable.h"

#include <QString>
#include <QStringList>

namespace halvik {

// Persisted enumerations are stored as their raw value, which equals the case name. The
// declaration order is also the order in pickers. Convert with toRaw / fromRaw<E>.

enum class PHPSource
{
    automatic,
    managed,
    herd
};
enum class HostProviderKind
{
    forge,
    laravelCloud,
    netlify,
    cloudflarePages
};
enum class SourceControlProvider
{
    github,
    gitlab,
    bitbucket,
    origin
};
enum class OperationKind
{
    createProject,
    composer,
    artisan,
    keffin,
    shell,
    git,
    deploy,
    serve,
    selfUpdate
};

constexpr auto enumCases(std::type_identity<PHPSource>)
{
    return std::to_array<EnumCase<PHPSource>>(
        {{PHPSource::automatic, "automatic"}, {PHPSource::managed, "managed"}, {PHPSource::herd, "herd"}});
}

constexpr auto enumCases(std::type_identity<HostProviderKind>)
{
    return std::to_array<EnumCase<HostProviderKind>>(
        {{HostProviderKind::forge, "forge"},
         {HostProviderKind::laravelCloud, "laravelCloud"},
         {HostProviderKind::netlify, "netlify"},
         {HostProviderKind::cloudflarePages, "cloudflarePages"}});
}

constexpr auto enumCases(std::type_identity<SourceControlProvider>)
{
    return std::to_array<EnumCase<SourceControlProvider>>(
        {{SourceControlProvider::github, "github", "GitHub"},
         {SourceControlProvider::gitlab, "gitlab", "GitLab"},
         {SourceControlProvider::bitbucket, "bitbucket", "Bitbucket"},
         {SourceControlProvider::origin, "origin", "Cursor Origin"}});
}

constexpr auto enumCases(std::type_identity<OperationKind>)
{
    return std::to_array<EnumCase<OperationKind>>({{OperationKind::createProject, "createProject"},
                                                   {OperationKind::composer, "composer"},
                                                   {OperationKind::artisan, "artisan"},
                                                   {OperationKind::keffin, "keffin"},
                                                   {OperationKind::shell, "shell"},
                                                   {OperationKind::git, "git"},
                                                   {OperationKind::deploy, "deploy"},
                                                   {OperationKind::serve, "serve"},
                                                   {OperationKind::selfUpdate, "selfUpdate"}});
}

// The secret-store key of a connected source-control account.
inline QString secretAccount(SourceControlProvider provider)
{
    return QStringLiteral("sourceControl.") + toRaw(provider);
}

} // namespace halvik
