#pragma once

#include "gitcore/GitChangedFile.h"
#include "gitcore/GitRepositoryProblem.h"
#include "gitcore/SourceControlProviderKind.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace halvik::gitcore {

// The summary of one repository.
struct GitStatus
{
    bool isRepo = false;
    std::optional<QString> branch;
    std::optional<QString> remoteURL;
    int dirtyCount = 0;
    int ahead = 0;
    int behind = 0;
    bool inProgressRebase = false;
    // An undo (revert) stopped on conflicts and waits to be continued or aborted.
    bool inProgressRevert = false;
    bool tracksEnv = false;
    bool isUnborn = false;
    bool isDetached = false;
    std::optional<QString> upstream;
    bool hasUnmerged = false;
    std::optional<GitRepositoryProblem> problem;

    bool operator==(const GitStatus&) const = default;

    static GitStatus empty() { return {}; }

    // All of these are absent when there is no remote URL.
    std::optional<QString> displayRemoteURL() const;
    std::optional<QString> githubRepo() const;
    std::optional<QUrl> githubURL() const;
    std::optional<QString> originRepo() const;
    std::optional<QUrl> originURL() const;
    std::optional<SourceControlProviderKind> remoteProvider() const;
    std::optional<QUrl> remoteWebURL() const;
    std::optional<QString> remoteDisplayName() const;
};

// What `git status --porcelain=v2 --branch` says.
struct GitStatusParseResult
{
    std::optional<QString> branch;
    std::optional<QString> oid;
    bool isUnborn = false;
    bool isDetached = false;
    std::optional<QString> upstream;
    int ahead = 0;
    int behind = 0;
    QList<GitChangedFile> files;

    bool operator==(const GitStatusParseResult&) const = default;
    bool hasUnmerged() const;
};

} // namespace halvik::gitcore
