#pragma once

#include "gitcore/GitEnums.h"

#include <QList>
#include <QString>

#include <optional>

namespace halvik::gitcore {

struct GitDiffLine
{
    enum class Kind
    {
        context,
        addition,
        deletion,
        meta
    };

    int id = 0;
    Kind kind = Kind::context;
    std::optional<int> oldNumber;
    std::optional<int> newNumber;
    QString text;

    bool operator==(const GitDiffLine&) const = default;
};

constexpr auto enumCases(std::type_identity<GitDiffLine::Kind>)
{
    using Kind = GitDiffLine::Kind;
    return std::to_array<EnumCase<Kind>>({{Kind::context, "context"},
                                          {Kind::addition, "addition"},
                                          {Kind::deletion, "deletion"},
                                          {Kind::meta, "meta"}});
}

struct GitDiffHunk
{
    QString id;
    QString header;
    int oldStart = 0;
    int oldCount = 0;
    int newStart = 0;
    int newCount = 0;
    QList<GitDiffLine> lines;
    bool canApply = false;

    bool operator==(const GitDiffHunk&) const = default;
};

struct GitFileDiff
{
    QString path;
    std::optional<QString> originalPath;
    GitDiffScope scope = GitDiffScope::remaining;
    GitDiffKind kind = GitDiffKind::empty;
    QList<GitDiffHunk> hunks;
    QString raw;
    QString fileHeader;
    int lineCount = 0;
    // The text was read from bytes that are not UTF-8, one byte per character.
    bool isLatin1 = false;

    bool operator==(const GitFileDiff&) const = default;

    static GitFileDiff empty(const QString& path, GitDiffScope scope, GitDiffKind kind);

    // The patch that stages, unstages or discards this one hunk through `git apply`.
    QString patch(const GitDiffHunk& hunk) const;
    // The same patch as the bytes Git printed, whatever the file's encoding.
    QByteArray patchBytes(const GitDiffHunk& hunk) const;
};

} // namespace halvik::gitcore
