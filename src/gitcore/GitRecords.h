#pragma once

#include "gitcore/GitChangedFile.h"
#include "gitcore/GitEnums.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace halvik::gitcore {

struct GitCommit
{
    QString sha;
    QString author;
    QDateTime date;
    QString subject;
    QStringList files;

    bool operator==(const GitCommit&) const = default;
    const QString& id() const { return sha; }
    QString shortSHA() const { return sha.left(7); }
};

struct GitCommitDetail
{
    GitCommit commit;
    QString body;
    QList<GitChangedFile> files;

    bool operator==(const GitCommitDetail&) const = default;
};

struct GitIdentity
{
    QString name;
    QString email;
    GitIdentityScope scope = GitIdentityScope::global;

    bool operator==(const GitIdentity&) const = default;
    bool isComplete() const { return !name.trimmed().isEmpty() && !email.trimmed().isEmpty(); }
};

struct GitBranch
{
    QString name;
    bool isRemote = false;
    bool isCurrent = false;
    std::optional<QString> upstream;

    bool operator==(const GitBranch&) const = default;
    QString id() const { return (isRemote ? QStringLiteral("remote/") : QStringLiteral("local/")) + name; }
    // "origin/main" gives "main" for a remote branch.
    QString shortName() const
    {
        const qsizetype slash = name.indexOf(QLatin1Char('/'));
        return isRemote && slash >= 0 ? name.mid(slash + 1) : name;
    }
};

struct GitStash
{
    int index = 0;
    QString ref;
    QString message;
    QDateTime date;

    bool operator==(const GitStash&) const = default;
    const QString& id() const { return ref; }
};

size_t qHash(const GitCommit& commit, size_t seed = 0);
size_t qHash(const GitBranch& branch, size_t seed = 0);
size_t qHash(const GitStash& stash, size_t seed = 0);
size_t qHash(const GitIdentity& identity, size_t seed = 0);

} // namespace halvik::gitcore
