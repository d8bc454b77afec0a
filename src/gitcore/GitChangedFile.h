#pragma once

#include "gitcore/GitEnums.h"

#include <QChar>
#include <QSet>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace halvik::gitcore {

// One changed path of a repository. `indexStatus` and `worktreeStatus` are Git's X and Y columns.
struct GitChangedFile
{
    QString path;
    std::optional<QString> originalPath;
    QString status;
    QChar indexStatus = QLatin1Char('.');
    QChar worktreeStatus = QLatin1Char('.');
    bool isUntracked = false;
    bool isConflicted = false;
    bool isRenamed = false;
    bool isCopied = false;

    bool operator==(const GitChangedFile&) const = default;

    // Builds a file from a two-column code such as "M ", "AM", "??" or "UU".
    static GitChangedFile withStatus(const QString& path, const QString& status);

    const QString& id() const { return path; }
    QString statusCode() const;
    GitFileInclusion inclusion() const;
    bool isIncluded() const;
    bool hasRemaining() const;
    bool isAdded() const;
    bool isDeleted() const;
    QString kindLabel() const;
    QString basename() const;
    std::optional<QString> parentPath() const;

    static bool isChanged(QChar column);
    static const QSet<QString>& conflictCodes();
    static QString normalizedXY(const QString& code);
    static QString displayStatus(QChar index, QChar worktree, bool untracked);
};

size_t qHash(const GitChangedFile& file, size_t seed = 0);

} // namespace halvik::gitcore
