#pragma once

#include "gitcore/GitDiff.h"
#include "gitcore/GitRecords.h"
#include "gitcore/GitStatus.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace halvik::gitcore {

struct GitHunkRange
{
    int oldStart = 0;
    int oldCount = 0;
    int newStart = 0;
    int newCount = 0;

    bool operator==(const GitHunkRange&) const = default;
};

struct GitDiffPaths
{
    std::optional<QString> original;
    QString path;

    bool operator==(const GitDiffPaths&) const = default;
};

// Parsers of Git's machine-readable output. Every one is total: input of the wrong shape gives
// fewer records, never an error.
class GitParsers
{
public:
    // `status --porcelain=v2 -z --branch`: files keyed by path (last record wins), natural order.
    static GitStatusParseResult parseStatusPorcelainV2(const QString& text);
    // `log --pretty=format:%H%x1f%an%x1f%at%x1f%s --name-only`.
    static QList<GitCommit> parseLog(const QString& text);
    // Tab-separated `--name-status`.
    static QList<GitChangedFile> parseNameStatus(const QString& text);
    // `for-each-ref` with %(refname), %(refname:short), %(HEAD), %(upstream:short) joined by U+001F.
    static QList<GitBranch> parseForEachRef(const QString& text);
    // `stash list --format=%gd%x1f%ct%x1f%gs`.
    static QList<GitStash> parseStashList(const QString& text);

    // One file's unified diff; bounded by GitCommands::maxDiffBytes and maxDiffLines.
    static GitFileDiff parseUnifiedDiff(const QString& text, const QString& path, GitDiffScope scope,
                                        bool canApply);
    static GitHunkRange parseHunkHeader(QStringView line);
    // The two paths of a "diff --git a/x b/y" line, quoted or not. Two different plain names
    // with spaces can be ambiguous here: a diff's "rename from" line settles them.
    static std::optional<GitDiffPaths> parseDiffPaths(QStringView line);

    // Splits on every kind of line break, dropping empty lines.
    static QList<QStringView> splitLines(QStringView text);
    // A path as Git prints it outside -z output: names with a quote, a backslash or a control
    // character come C-quoted ("a\"b", "tab\there", octal bytes) even with core.quotePath off.
    // Anything else is returned as it is.
    static QString unquotePath(QStringView printed);
};

} // namespace halvik::gitcore
