#include "InotifyFolderWatcher.h"

#include "platform/Log.h"

#include <QDir>
#include <QDirIterator>
#include <QFutureWatcher>
#include <QMutex>
#include <QPointer>
#include <QSocketNotifier>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace halvik {

namespace {

constexpr uint32_t kWatchMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

} // namespace

// Shared with the walking thread, so the descriptor outlives any walk still adding watches.
struct InotifyFolderWatcher::State
{
    QString root;
    Exclusion excluded;
    int fd = -1;
    QMutex lock;
    QHash<int, QString> folders; // guarded: watch descriptor -> absolute folder
    bool degraded = false;       // guarded
    bool stopped = false;        // guarded
    int watchBudget = -1;        // set before start; below zero means only the system's limit

    ~State()
    {
        if (fd < 0)
            return;
        // Closing waits for the kernel to retire the watches, an RCU grace period of up to tens
        // of milliseconds: never on the thread that lets go, mostly the main one.
        const int descriptor = fd;
        if (QThreadPool* pool = QThreadPool::globalInstance())
            pool->start([descriptor] { ::close(descriptor); });
        else
            ::close(descriptor);
    }

    bool isExcluded(const QString& folder) const
    {
        return excluded && excluded(QDir(root).relativeFilePath(folder));
    }

    // Watches `top` and its subfolders level by level, so that when the system runs out of
    // watches it is the deepest levels that go unwatched.
    void watchTree(const QString& top)
    {
        QStringList level{top};
        while (!level.isEmpty()) {
            QStringList next;
            for (const QString& folder : level) {
                bool overBudget = false;
                {
                    QMutexLocker locker(&lock);
                    if (stopped || degraded)
                        return;
                    overBudget = watchBudget >= 0 && folders.size() >= watchBudget;
                }
                const int wd = overBudget
                                   ? -1
                                   : inotify_add_watch(fd, QFile::encodeName(folder).constData(), kWatchMask);
                if (wd < 0) {
                    if (overBudget || errno == ENOSPC) {
                        QMutexLocker locker(&lock);
                        degraded = true;
                        qCWarning(halvikLog).noquote()
                            << "Halvik folder monitor: the system's watch limit was reached; folders below"
                            << QDir(root).relativeFilePath(folder) << "and deeper are not watched in" << root;
                        return;
                    }
                    continue; // vanished or unreadable: nothing to watch
                }
                {
                    QMutexLocker locker(&lock);
                    folders.insert(wd, folder);
                }
                QDirIterator it(folder, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks);
                while (it.hasNext()) {
                    const QString child = it.next();
                    if (!isExcluded(child))
                        next.append(child);
                }
            }
            level = std::move(next);
        }
    }
};

InotifyFolderWatcher::InotifyFolderWatcher(QObject* parent) : FolderWatcher(parent) {}

InotifyFolderWatcher::~InotifyFolderWatcher()
{
    stop();
}

void InotifyFolderWatcher::start(const QString& root, Exclusion excluded, int watchBudget)
{
    stop();
    auto state = std::make_shared<State>();
    state->root = QDir::cleanPath(root);
    state->excluded = std::move(excluded);
    state->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (state->fd < 0) {
        qCWarning(halvikLog) << "Halvik folder monitor: cannot watch" << root << ":" << strerror(errno);
        return;
    }
    state->watchBudget = watchBudget;
    m_state = state;
    m_notifier = new QSocketNotifier(state->fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InotifyFolderWatcher::readEvents);

    QPointer<InotifyFolderWatcher> self(this);
    auto walk = QtConcurrent::run([state] { state->watchTree(state->root); });
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, self, watcher, state] {
        watcher->deleteLater();
        if (self && m_state == state)
            Q_EMIT ready();
    });
    watcher->setFuture(walk);
}

void InotifyFolderWatcher::stop()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        delete m_notifier;
        m_notifier = nullptr;
    }
    if (m_state) {
        QMutexLocker locker(&m_state->lock);
        m_state->stopped = true;
    }
    m_state.reset();
}

int InotifyFolderWatcher::watchedFolderCount() const
{
    if (!m_state)
        return 0;
    QMutexLocker locker(&m_state->lock);
    return int(m_state->folders.size());
}

bool InotifyFolderWatcher::isDegraded() const
{
    if (!m_state)
        return false;
    QMutexLocker locker(&m_state->lock);
    return m_state->degraded;
}

void InotifyFolderWatcher::readEvents()
{
    if (!m_state)
        return;
    auto state = m_state;
    alignas(inotify_event) char buffer[16384];
    bool changedAny = false;
    bool unknown = false;
    QStringList paths;
    QStringList newFolders;
    for (;;) {
        const ssize_t length = ::read(state->fd, buffer, sizeof buffer);
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += ssize_t(sizeof(inotify_event) + event->len);
            QMutexLocker locker(&state->lock);
            if (event->mask & IN_IGNORED) {
                state->folders.remove(event->wd);
                continue;
            }
            if (event->mask & IN_Q_OVERFLOW) {
                changedAny = true;
                unknown = true;
                continue;
            }
            const QString folder = state->folders.value(event->wd);
            const QString name = event->len ? QFile::decodeName(event->name) : QString();
            if (!folder.isEmpty() && (event->mask & IN_ISDIR) && (event->mask & (IN_CREATE | IN_MOVED_TO))) {
                const QString child = folder + QLatin1Char('/') + name;
                if (!state->isExcluded(child))
                    newFolders.append(child);
            }
            if (folder.isEmpty())
                unknown = true;
            else
                paths.append(name.isEmpty() ? folder : folder + QLatin1Char('/') + name);
            changedAny = true;
        }
    }
    // New folders are usually small (a mkdir, an unpacked archive): watched here, at once, so
    // files written into them right away are seen.
    for (const QString& folder : std::as_const(newFolders))
        state->watchTree(folder);
    if (changedAny) {
        Q_EMIT changedPaths(unknown ? QStringList() : paths);
        Q_EMIT changed();
    }
}

} // namespace halvik
