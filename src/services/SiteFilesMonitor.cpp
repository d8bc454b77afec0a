#include "services/SiteFilesMonitor.h"

#include "services/composer/ManifestCache.h"

#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

namespace halvik {

namespace {

const QStringList& watchedFiles()
{
    static const QStringList files{QStringLiteral(".env"), QStringLiteral("composer.json"),
                                   QStringLiteral("composer.lock"),
                                   QStringLiteral("vendor/composer/installed.json")};
    return files;
}

} // namespace

SiteFilesMonitor::SiteFilesMonitor(QObject* parent) : QObject(parent)
{
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(defaultQuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &SiteFilesMonitor::startRead);
    // Editors and Halvik itself save by writing a new file over the old one: the folder
    // changes and the file's watch is gone, so every change watches the files again.
    const auto changed = [this] {
        watch();
        m_quiet.start();
    };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, changed);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, changed);
}

void SiteFilesMonitor::setSitePath(const QString& path)
{
    if (path == m_path)
        return;
    m_path = path;
    ++m_generation;
    m_files.reset();
    if (const QStringList watched = m_watcher.files() + m_watcher.directories(); !watched.isEmpty())
        m_watcher.removePaths(watched);
    if (m_path.isEmpty()) {
        m_quiet.stop();
        return;
    }
    watch();
    reload();
}

void SiteFilesMonitor::reload()
{
    m_quiet.stop();
    startRead();
}

void SiteFilesMonitor::watch()
{
    const QDir site(m_path);
    QStringList wanted;
    // The folders catch files that appear or are replaced (vendor catches vendor/composer
    // appearing with a first install); the files catch edits in place.
    for (const QString& folder : {QString(), QStringLiteral("vendor"), QStringLiteral("vendor/composer")})
        if (const QString path = site.filePath(folder); QFileInfo(path).isDir())
            wanted << QDir::cleanPath(path);
    for (const QString& file : watchedFiles())
        if (const QString path = site.filePath(file); QFileInfo::exists(path))
            wanted << path;
    const QStringList current = m_watcher.files() + m_watcher.directories();
    QStringList missing;
    for (const QString& path : std::as_const(wanted))
        if (!current.contains(path))
            missing << path;
    if (!missing.isEmpty())
        m_watcher.addPaths(missing);
}

void SiteFilesMonitor::startRead()
{
    if (m_path.isEmpty())
        return;
    if (m_reading) {
        m_readAgain = true;
        return;
    }
    m_reading = true;
    m_readAgain = false;
    const quint64 generation = m_generation;
    auto* watcher = new QFutureWatcher<SiteFiles>(this);
    connect(watcher, &QFutureWatcher<SiteFiles>::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        m_reading = false;
        if (generation == m_generation) {
            m_files = watcher->result();
            Q_EMIT filesChanged();
        }
        if (m_readAgain)
            startRead();
    });
    watcher->setFuture(QtConcurrent::run(&SiteFilesMonitor::read, m_path));
}

SiteFiles SiteFilesMonitor::read(const QString& sitePath)
{
    SiteFiles files;
    try {
        files.environment =
            DotEnvFile::entries(DotEnvFile::load(QDir(sitePath).filePath(QStringLiteral(".env"))));
    } catch (const std::exception&) {
        // No .env, or one that cannot be read: the Overview says "Not set".
    }
    files.manifest = ManifestCache::read(sitePath);
    return files;
}

} // namespace halvik
