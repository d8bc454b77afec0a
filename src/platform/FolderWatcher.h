#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace halvik {

// Watches a folder and everything below it for changes of any file or folder, and reports
// each change at once (callers debounce). Folders created later are watched as they appear.
// The walk of the tree runs off the main thread; `ready` follows it. When the system runs out
// of watches the deepest levels go unwatched, `isDegraded` says so and it is logged once.
// Main thread only.
class FolderWatcher : public QObject
{
    Q_OBJECT
public:
    // Whether a path relative to the root is left unwatched, with everything below it.
    using Exclusion = std::function<bool(const QString& relativePath)>;

    enum class Kind
    {
        // The best the system offers: inotify on Linux.
        native,
        // Qt's file system watcher, on every system.
        portable
    };

    static std::unique_ptr<FolderWatcher> create(Kind kind = Kind::native);

    using QObject::QObject;
    ~FolderWatcher() override = default;

    // Stops any running watch first. `watchBudget` caps the watches taken, as if the system's
    // limit were that low; below zero only the system's limit applies.
    virtual void start(const QString& root, Exclusion excluded, int watchBudget = -1) = 0;
    virtual void stop() = 0;

    virtual bool isWatching() const = 0;
    virtual int watchedFolderCount() const = 0;
    virtual bool isDegraded() const = 0;

Q_SIGNALS:
    void changed();
    // Sent just before `changed` with the absolute paths that changed, as far as the system
    // tells; an empty list means it did not say (the caller must assume anything changed).
    void changedPaths(const QStringList& paths);
    void ready();
};

} // namespace halvik
