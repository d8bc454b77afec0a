#pragma once

#include "platform/FolderWatcher.h"

#include <QSet>

#include <memory>

class QFileSystemWatcher;

namespace halvik {

// A folder watcher over QFileSystemWatcher, for systems without a native one. Qt reports a
// folder's own entries coming and going but not edits of the files in it, so every file is
// watched too; both count against the budget.
class PortableFolderWatcher : public FolderWatcher
{
    Q_OBJECT
public:
    explicit PortableFolderWatcher(QObject* parent = nullptr);
    ~PortableFolderWatcher() override;

    void start(const QString& root, Exclusion excluded, int watchBudget = -1) override;
    void stop() override;

    bool isWatching() const override { return bool(m_watcher); }
    int watchedFolderCount() const override;
    bool isDegraded() const override { return m_degraded; }

    struct Walk;

private:
    // Adds what the walk found, up to the budget.
    void watch(const QStringList& folders, const QStringList& files);
    void folderChanged(const QString& folder);

    QString m_root;
    Exclusion m_excluded;
    int m_budget = -1;
    bool m_degraded = false;
    std::unique_ptr<QFileSystemWatcher> m_watcher;
    std::shared_ptr<Walk> m_walk;
};

} // namespace halvik
