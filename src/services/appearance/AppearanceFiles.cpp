#include "AppearanceFiles.h"

#include "AppearanceRules.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cmath>

namespace halvik::appearance {

namespace {

QString markerOf(const QString& file)
{
    return file + QStringLiteral(".fetched");
}

void keepNewest(std::optional<QDateTime>& newest, const QDateTime& candidate)
{
    if (!newest || candidate > *newest)
        newest = candidate;
}

void walk(const QString& folder, const QStringList& skipped, std::optional<QDateTime>& newest)
{
    QDirIterator it(folder,
                    QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir()) {
            if (!skipped.contains(info.fileName()))
                walk(info.filePath(), skipped, newest);
            continue;
        }
        keepNewest(newest, info.lastModified());
    }
}

} // namespace

AppearanceFiles::AppearanceFiles(QString root, const QUuid& site)
    : m_folder(previewsFolder(root) + QLatin1Char('/') + site.toString(QUuid::WithoutBraces).toUpper())
{
}

QString AppearanceFiles::previewsFolder(const QString& root)
{
    return root + QStringLiteral("/previews");
}

QString AppearanceFiles::faviconPath() const
{
    return m_folder + QStringLiteral("/favicon.png");
}

QString AppearanceFiles::screenshotPath() const
{
    return m_folder + QStringLiteral("/screenshot.png");
}

std::optional<QDateTime> AppearanceFiles::cacheDate(const QString& file)
{
    QFile marker(markerOf(file));
    if (marker.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const double seconds = QString::fromUtf8(marker.read(64)).trimmed().toDouble(&ok);
        if (ok && std::isfinite(seconds))
            return QDateTime::fromMSecsSinceEpoch(qint64(seconds * 1000.0), Qt::UTC);
    }
    const QFileInfo info(file);
    if (info.exists())
        return info.lastModified().toUTC();
    return std::nullopt;
}

bool AppearanceFiles::writeMarker(const QString& file, const QDateTime& when)
{
    QSaveFile marker(markerOf(file));
    if (!marker.open(QIODevice::WriteOnly))
        return false;
    marker.write(QByteArray::number(double(when.toMSecsSinceEpoch()) / 1000.0, 'f', 3));
    return marker.commit();
}

bool AppearanceFiles::store(const QString& file, const QByteArray& png, const QDateTime& when)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(png);
    if (!out.commit())
        return false;
    return writeMarker(file, when);
}

std::optional<QDateTime> newestLocalIcon(const QString& projectPath)
{
    std::optional<QDateTime> newest;
    for (const QString& relative : localIconPaths()) {
        const QFileInfo info(projectPath + QLatin1Char('/') + relative);
        if (info.isFile())
            keepNewest(newest, info.lastModified());
    }
    return newest;
}

std::optional<QDateTime> contentStamp(const QString& projectPath)
{
    std::optional<QDateTime> newest;
    const QStringList skipped = skipDirectoryNames();
    for (const QString& root : contentRoots()) {
        const QString folder = projectPath + QLatin1Char('/') + root;
        if (QFileInfo(folder).isDir())
            walk(folder, skipped, newest);
    }
    return newest;
}

bool needsFavicon(const QString& faviconPath, const QString& projectPath)
{
    if (!QFileInfo::exists(faviconPath))
        return true;
    const auto cached = AppearanceFiles::cacheDate(faviconPath);
    if (!cached)
        return true;
    const auto local = newestLocalIcon(projectPath);
    return local && *local > cached->addSecs(1);
}

bool needsScreenshot(const QString& screenshotPath, const QString& projectPath, const QDateTime& now)
{
    if (!QFileInfo::exists(screenshotPath))
        return true;
    const auto cached = AppearanceFiles::cacheDate(screenshotPath);
    if (!cached)
        return true;
    if (cached->secsTo(now) > 86400)
        return true;
    const auto stamp = contentStamp(projectPath);
    return stamp && *stamp > cached->addSecs(1);
}

} // namespace halvik::appearance
