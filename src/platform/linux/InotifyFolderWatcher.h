#pragma once

#include "platform/FolderWatcher.h"

#include <memory>

class QSocketNotifier;

namespace halvik {

// A folder watcher over one inotify descriptor: a watch per folder, read on the main thread
// through a socket notifier.
class InotifyFolderWatcher : public FolderWatcher
{
    Q_OBJECT
public:
    explicit InotifyFolderWatcher(QObject* parent = nullptr);
    ~InotifyFolderWatcher() override;

    void start(const QString& root, Exclusion excluded, int watchBudget = -1) override;
    void stop() override;

    bool isWatching() const override { return bool(m_state); }
    int watchedFolderCount() const override;
    bool isDegraded() const override;

    struct State;

private:
    void readEvents();

    std::shared_ptr<State> m_state;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace halvik
