#include "NewSiteChecks.h"

#include "models/SiteStore.h"

#include <QDir>
#include <QFileInfo>

namespace halvik::NewSiteChecks {

namespace {

QString cleaned(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

std::optional<QString> destination(const SiteStore& store, const QString& path, bool allowEmptyFolder)
{
    if (store.siteAtPath(path))
        return QStringLiteral("Halvik already has a site at this path.");
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    const bool empty =
        info.isDir() &&
        QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty();
    if (allowEmptyFolder && empty)
        return std::nullopt;
    return QStringLiteral("A folder already exists at ") + path;
}

std::optional<QString> starterKit(const QString& package,
                                  const std::optional<QList<MarketplaceStarterKit>>& kits)
{
    if (!kits)
        return std::nullopt;
    for (const MarketplaceStarterKit& kit : *kits)
        if (kit.isListed && kit.package.compare(package, Qt::CaseInsensitive) == 0)
            return std::nullopt;
    return QStringLiteral("There is no starter kit “%1” in the marketplace.").arg(package);
}

std::optional<QString> release(const QString& version, const std::optional<QList<PackagistVersion>>& versions)
{
    if (!versions || version.isEmpty() || version == QLatin1String("latest"))
        return std::nullopt;
    for (const PackagistVersion& published : *versions)
        if (published.version == version || published.version == QLatin1Char('v') + version)
            return std::nullopt;
    return QStringLiteral("quillmar/cms has no release %1.").arg(version);
}

std::optional<QString> password(const QString& password)
{
    if (password.size() < 8)
        return QStringLiteral("Password must be at least 8 characters.");
    return std::nullopt;
}

std::optional<QString> cloneDestination(const QString& sourcePath, const QString& destination)
{
    const QString source = cleaned(sourcePath);
    const QString target = cleaned(destination);
    if (target == source || target.startsWith(source + QLatin1Char('/')))
        return QStringLiteral("Choose a folder outside the site you are copying.");
    return std::nullopt;
}

std::optional<QString> cloneTarget(const SiteStore& store, const QString& sourcePath,
                                   const QString& destination)
{
    if (store.siteAtPath(destination))
        return QStringLiteral("Halvik already has a site at this path.");
    if (auto inside = cloneDestination(sourcePath, destination))
        return inside;
    return NewSiteChecks::destination(store, destination, false);
}

} // namespace halvik::NewSiteChecks
