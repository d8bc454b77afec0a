#include "PHPDiscovery.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace halvik::PHPDiscovery {

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

std::optional<QString> firstExecutable(const QStringList& candidates)
{
    for (const QString& candidate : candidates)
        if (isExecutableFile(candidate))
            return candidate;
    return std::nullopt;
}

QList<HerdPHP> herdBinaries(const QString& binFolder)
{
    QList<HerdPHP> found;
    const QDir folder(binFolder);
    for (const QString& name : folder.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        if (!name.startsWith(QLatin1String("php")) || name.contains(QLatin1String("fpm")) ||
            name == QLatin1String("php"))
            continue;
        const QString path = folder.filePath(name);
        if (!isExecutableFile(path))
            continue;
        QString rest = name;
        rest.remove(QStringLiteral("php"));
        if (rest.size() < 2)
            continue;
        found.append({rest.left(1) + QLatin1Char('.') + rest.mid(1), path});
    }
    sortByVersion(found);
    return found;
}

QList<HerdPHP> homebrewInstallations(const QStringList& homebrewPrefixes)
{
    QList<HerdPHP> found;
    QSet<QString> seen;
    for (const QString& prefix : homebrewPrefixes) {
        const QDir opt(prefix + QStringLiteral("/opt"));
        for (const QString& name : opt.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
            if (!name.startsWith(QLatin1String("php@")))
                continue;
            const QString version = name.mid(4);
            if (seen.contains(version))
                continue;
            seen.insert(version);
            const QString path = opt.filePath(name) + QStringLiteral("/bin/php");
            if (isExecutableFile(path))
                found.append({version, path});
        }
    }
    sortByVersion(found);
    return found;
}

QList<HerdPHP> versionedExecutables(const QStringList& binFolders)
{
    static const QRegularExpression pattern(QStringLiteral("^php(\\d+\\.\\d+)$"));
    QList<HerdPHP> found;
    QSet<QString> seen;
    for (const QString& binFolder : binFolders) {
        const QDir folder(binFolder);
        for (const QString& name : folder.entryList({QStringLiteral("php*")}, QDir::Files | QDir::System)) {
            const auto match = pattern.match(name);
            const QString path = folder.filePath(name);
            if (!match.hasMatch() || seen.contains(match.captured(1)) || !isExecutableFile(path))
                continue;
            seen.insert(match.captured(1));
            found.append({match.captured(1), path});
        }
    }
    sortByVersion(found);
    return found;
}

void sortByVersion(QList<HerdPHP>& list)
{
    std::stable_sort(list.begin(), list.end(),
                     [](const HerdPHP& a, const HerdPHP& b) { return a.version > b.version; });
}

QString normalizedVersion(const QString& version)
{
    QString text = version.trimmed();
    if (text.startsWith(QLatin1String("php@")))
        text = text.mid(4);
    if (text.startsWith(QLatin1String("php")))
        text = text.mid(3);
    const QStringList parts = text.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    return parts.mid(0, 2).join(QLatin1Char('.'));
}

} // namespace halvik::PHPDiscovery
