#include "GitFolderMonitor.h"

#include "platform/FolderWatcher.h"

#include <QStringList>

namespace halvik {

GitFolderMonitor::GitFolderMonitor(QObject* parent) : QObject(parent), m_watcher(FolderWatcher::create())
{
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(400);
    connect(&m_debounce, &QTimer::timeout, this, &GitFolderMonitor::fire);
    connect(m_watcher.get(), &FolderWatcher::changed, this, &GitFolderMonitor::schedule);
    connect(m_watcher.get(), &FolderWatcher::ready, this, &GitFolderMonitor::ready);
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
    m_watcher->start(path, &GitFolderMonitor::isExcluded, m_watchBudget);
}

void GitFolderMonitor::stop()
{
    m_debounce.stop();
    m_watcher->stop();
}

void GitFolderMonitor::setPaused(bool paused)
{
    m_paused = paused;
    if (paused)
        m_debounce.stop();
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

void GitFolderMonitor::schedule()
{
    if (m_paused)
        return;
    m_debounce.start();
}

void GitFolderMonitor::fire()
{
    if (m_paused || !isWatching())
        return;
    if (onChange)
        onChange();
}

} // namespace halvik
