#include "GitFolderMonitor.h"

#include "platform/FolderWatcher.h"

#include <QDir>
#include <QStringList>

namespace halvik {

GitFolderMonitor::GitFolderMonitor(QObject* parent) : QObject(parent), m_watcher(FolderWatcher::create())
{
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(400);
    connect(&m_debounce, &QTimer::timeout, this, &GitFolderMonitor::fire);
    connect(m_watcher.get(), &FolderWatcher::changed, this, &GitFolderMonitor::schedule);
    connect(m_watcher.get(), &FolderWatcher::ready, this, &GitFolderMonitor::ready);
    connect(m_watcher.get(), &FolderWatcher::changedPaths, this, &GitFolderMonitor::collect);
}

GitFolderMonitor::~GitFolderMonitor()
{
    stop();
}

bool GitFolderMonitor::isExcluded(const QString& relativePath)
{
    const QStringList parts = relativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& part = parts.at(i);
        if (part == QLatin1String("vendor") || part == QLatin1String("node_modules"))
            return true;
        if (part == QLatin1String(".git") && i + 1 < parts.size() &&
            parts.at(i + 1) == QLatin1String("objects"))
            return true;
    }
    return false;
}

void GitFolderMonitor::start(const QString& path)
{
    stop();
    m_root = path;
    m_watcher->start(path, &GitFolderMonitor::isExcluded, m_watchBudget);
}

void GitFolderMonitor::stop()
{
    m_debounce.stop();
    m_watcher->stop();
    m_pending.clear();
    m_pendingUnknown = false;
}

void GitFolderMonitor::setPaused(bool paused)
{
    m_paused = paused;
    if (paused) {
        m_debounce.stop();
        m_pending.clear();
        m_pendingUnknown = false;
    }
}

bool GitFolderMonitor::isWatching() const
{
    return m_watcher->isWatching();
}
int GitFolderMonitor::watchedFolderCount() const
{
    return m_watcher->watchedFolderCount();
}
bool GitFolderMonitor::isDegraded() const
{
    return m_watcher->isDegraded();
}

void GitFolderMonitor::collect(const QStringList& paths)
{
    if (m_paused)
        return;
    if (paths.isEmpty())
        m_pendingUnknown = true;
    if (m_pendingUnknown)
        return;
    const QDir root(m_root);
    for (const QString& path : paths)
        m_pending.insert(root.relativeFilePath(path));
    // A burst this large is a checkout or an install: not worth sorting out path by path.
    if (m_pending.size() > maxReportedPaths) {
        m_pending.clear();
        m_pendingUnknown = true;
    }
}

void GitFolderMonitor::schedule()
{
    if (m_paused)
        return;
    m_debounce.start();
}

void GitFolderMonitor::fire()
{
    const QStringList paths =
        m_pendingUnknown ? QStringList() : QStringList(m_pending.cbegin(), m_pending.cend());
    m_pending.clear();
    m_pendingUnknown = false;
    if (m_paused || !isWatching())
        return;
    if (onChangedPaths)
        onChangedPaths(paths);
    else if (onChange)
        onChange();
}

} // namespace halvik
