#include "ManifestCache.h"

#include "ComposerFiles.h"

#include <QDir>
#include <QHash>
#include <QMutex>

#include <filesystem>

namespace halvik::ManifestCache {

namespace {

// What identifies one version of a file without reading it.
struct Stamp
{
    bool exists = false;
    std::filesystem::file_time_type modified{};
    std::uintmax_t size = 0;

    bool operator==(const Stamp&) const = default;
};

struct Entry
{
    QList<Stamp> stamps;
    SiteManifest manifest;
};

// The files readManifest looks at.
const QStringList& sources()
{
    static const QStringList files{QStringLiteral("composer.json"),
                                   QStringLiteral("vendor/composer/installed.json"),
                                   QStringLiteral("config/quillmar/eloquent-driver.php")};
    return files;
}

QList<Stamp> stampsOf(const QString& sitePath)
{
    QList<Stamp> stamps;
    const QDir site(sitePath);
    for (const QString& file : sources()) {
        const std::filesystem::path path(site.filePath(file).toStdString());
        std::error_code error;
        Stamp stamp;
        stamp.modified = std::filesystem::last_write_time(path, error);
        if (!error) {
            stamp.size = std::filesystem::file_size(path, error);
            stamp.exists = !error;
        }
        stamps << (stamp.exists ? stamp : Stamp{});
    }
    return stamps;
}

QMutex& lock()
{
    static QMutex mutex;
    return mutex;
}

QHash<QString, Entry>& entries()
{
    static QHash<QString, Entry> cache;
    return cache;
}

} // namespace

SiteManifest read(const QString& sitePath)
{
    const QString key = QDir::cleanPath(sitePath);
    const QList<Stamp> stamps = stampsOf(key);
    {
        const QMutexLocker locked(&lock());
        const auto it = entries().constFind(key);
        if (it != entries().constEnd() && it->stamps == stamps)
            return it->manifest;
    }
    // Parsed outside the lock: two readers of different sites never wait for each other.
    SiteManifest manifest = ComposerFiles::readManifest(key);
    // A file that changed while it was read is stamped as it was before, so the next read
    // parses it again.
    const QMutexLocker locked(&lock());
    entries().insert(key, Entry{stamps, manifest});
    return manifest;
}

void clear()
{
    const QMutexLocker locked(&lock());
    entries().clear();
}

} // namespace halvik::ManifestCache
