#pragma once

#include "gitcore/EnumTable.h"

namespace halvik::gitcore {

enum class GitIdentityScope
{
    local,
    global
};
enum class GitFileInclusion
{
    included,
    remaining,
    mixed,
    conflicted
};
enum class GitDiffScope
{
    included,
    remaining,
    commit
};
enum class GitListTab
{
    changes,
    history
};
enum class GitBusyKind
{
    none,
    local,
    network
};
// What left the repository with unresolved files, if anything.
enum class GitConflictKind
{
    none,
    rebase,
    revert,
    restore,
    autostash
};
enum class GitDiffKind
{
    text,
    binary,
    image,
    empty,
    missing,
    tooLarge
};
enum class GitHunkAction
{
    include,
    exclude,
    discard
};

constexpr auto enumCases(std::type_identity<GitIdentityScope>)
{
    return std::to_array<EnumCase<GitIdentityScope>>(
        {{GitIdentityScope::local, "local"}, {GitIdentityScope::global, "global"}});
}

constexpr auto enumCases(std::type_identity<GitFileInclusion>)
{
    return std::to_array<EnumCase<GitFileInclusion>>({{GitFileInclusion::included, "included"},
                                                      {GitFileInclusion::remaining, "remaining"},
                                                      {GitFileInclusion::mixed, "mixed"},
                                                      {GitFileInclusion::conflicted, "conflicted"}});
}

constexpr auto enumCases(std::type_identity<GitDiffScope>)
{
    return std::to_array<EnumCase<GitDiffScope>>({{GitDiffScope::included, "included", "Included"},
                                                  {GitDiffScope::remaining, "remaining", "Remaining"},
                                                  {GitDiffScope::commit, "commit", "Commit"}});
}

constexpr auto enumCases(std::type_identity<GitListTab>)
{
    return std::to_array<EnumCase<GitListTab>>(
        {{GitListTab::changes, "changes", "Changes"}, {GitListTab::history, "history", "History"}});
}

constexpr auto enumCases(std::type_identity<GitBusyKind>)
{
    return std::to_array<EnumCase<GitBusyKind>>(
        {{GitBusyKind::none, "none"}, {GitBusyKind::local, "local"}, {GitBusyKind::network, "network"}});
}

constexpr auto enumCases(std::type_identity<GitConflictKind>)
{
    return std::to_array<EnumCase<GitConflictKind>>({{GitConflictKind::none, "none"},
                                                     {GitConflictKind::rebase, "rebase"},
                                                     {GitConflictKind::revert, "revert"},
                                                     {GitConflictKind::restore, "restore"},
                                                     {GitConflictKind::autostash, "autostash"}});
}

constexpr auto enumCases(std::type_identity<GitDiffKind>)
{
    return std::to_array<EnumCase<GitDiffKind>>({{GitDiffKind::text, "text"},
                                                 {GitDiffKind::binary, "binary"},
                                                 {GitDiffKind::image, "image"},
                                                 {GitDiffKind::empty, "empty"},
                                                 {GitDiffKind::missing, "missing"},
                                                 {GitDiffKind::tooLarge, "tooLarge"}});
}

constexpr auto enumCases(std::type_identity<GitHunkAction>)
{
    return std::to_array<EnumCase<GitHunkAction>>({{GitHunkAction::include, "include", "Include"},
                                                   {GitHunkAction::exclude, "exclude", "Exclude"},
                                                   {GitHunkAction::discard, "discard", "Discard"}});
}

// A diff scope is identified by its raw value.
inline QString id(GitDiffScope scope)
{
    return toRaw(scope);
}

} // namespace halvik::gitcore
