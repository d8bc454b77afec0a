#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace halvik {

class FolderWatcher;

// Watches a site folder and everything below it (apart from `.git/objects`, `vendor` and
// `node_modules`) and calls onChange once, 0.4 s after the last change of a burst. Folders
// created later are watched as they appear. When the system's watch limit is reached the
// deepest levels are left unwatched and that is logged. Main thread only.
class GitFolderMonitor : public QObject
{
    Q_OBJECT
public:
    explicit GitFolderMonitor(QObject* parent = nullptr);
    ~GitFolderMonitor() override;

    std::function<void()> onChange;
    // When set, called instead of onChange with the changed paths of the burst, relative to
    // the folder; empty when the system could not say which changed (or too many did).
    std::function<void(const QStringList&)> onChangedPaths;

    // Stops any running watch first. The initial walk of the tree runs off the main thread.
    void start(const QString& path);
    void stop();

    bool isPaused() const { return m_paused; }
    // While paused, changes are ignored and a pending call is dropped.
    void setPaused(bool paused);

    // Quiet period after the last event (tests shorten it).
    void setDebounceInterval(int milliseconds) { m_debounce.setInterval(milliseconds); }

    // Caps the watches this monitor takes, as if the system's limit were that low (tests use
    // it to reach the limit without changing the machine's setting). Applies to the next start.
    void setWatchBudget(int watches) { m_watchBudget = watches; }

    bool isWatching() const;
    // Folders watched right now; whether the watch limit cut the tree short.
    int watchedFolderCount() const;
    bool isDegraded() const;

    // Names below which nothing is watched, however deep.
    static bool isExcluded(const QString& relativePath);

Q_SIGNALS:
    // After the initial walk has finished (tests wait for it).
    void ready();

private:
    void schedule();
    void fire();

    void collect(const QStringList& paths);

    std::unique_ptr<FolderWatcher> m_watcher;
    QString m_root;
    static constexpr qsizetype maxReportedPaths = 5000;

    QSet<QString> m_pending;
    bool m_pendingUnknown = false;
    QTimer m_debounce;
    int m_watchBudget = -1;
    bool m_paused = false;
};

} // namespace halvik
