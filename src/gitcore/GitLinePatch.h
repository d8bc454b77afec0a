#pragma once

#include "gitcore/GitDiff.h"

#include <QSet>

#include <optional>

namespace halvik::gitcore {

// Which way a patch is handed to `git apply`: forward stages what the worktree has
// (include), reverse takes a change back out of the index or the worktree (exclude, discard).
enum class GitPatchDirection
{
    forward,
    reverse
};

GitPatchDirection patchDirection(GitHunkAction action);

// A hunk cut down to some of its lines, with the file header it must be applied under.
struct GitLinePatch
{
    GitFileDiff diff;
    GitDiffHunk hunk;

    QString patch() const { return diff.patch(hunk); }
    QByteArray patchBytes() const { return diff.patchBytes(hunk); }
};

// The part of `hunk` made of the added and removed lines whose ids are in `lineIds`, written so
// that `git apply` (forward) or `git apply --reverse` changes only those lines.
//
// Forward, a removal left out stays in the file (it becomes context) and an addition left out
// is dropped. Reverse is the mirror: an addition left out stays (context) and a removal left
// out is dropped. The side `git apply` matches against is always the hunk's own, so the patch
// finds its place exactly as the whole hunk would. Missing final newlines are kept consistent:
// a line that had none and is no longer last gets one.
//
// Nothing when no chosen id names an added or removed line of the hunk.
std::optional<GitLinePatch> linePatch(const GitFileDiff& diff, const GitDiffHunk& hunk,
                                      const QSet<int>& lineIds, GitPatchDirection direction);

} // namespace halvik::gitcore
