#include "LiveOutputRewriter.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QScopeGuard>

#ifdef __linux__
#include "services/FolderEntries.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <string_view>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>
#endif

namespace halvik {

#ifdef __linux__

namespace {

// Writes are followed only to keep two writers' closes apart: the kernel merges an event into an
// identical one queued right before it. Closes after reading matter for files held while a
// reader had them open.
constexpr uint32_t followedEvents = IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_MODIFY | IN_CREATE | IN_DELETE |
                                    IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                    IN_DONT_FOLLOW;

void ignoreSignal(int) {}

// A writer opening a leased file makes the kernel send the lease holder SIGIO, whose default
// action ends the process. The lease is given back within microseconds without being asked, so
// the signal only needs to do no harm. A handler (not SIG_IGN) so that child programs, which
// inherit ignored signals, are not affected.
void defuseLeaseBreakSignal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current
        {
        };
        if (::sigaction(SIGIO, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
            return;
        struct sigaction quiet
        {
        };
        quiet.sa_handler = ignoreSignal;
        quiet.sa_flags = SA_RESTART;
        sigemptyset(&quiet.sa_mask);
        ::sigaction(SIGIO, &quiet, nullptr);
    });
}

size_t digest(QByteArrayView bytes)
{
    return qHash(bytes);
}

} // namespace

struct LiveOutputRewriter::State
{
    State(const QString& root, LocalOriginRewriter origins, std::string skipped)
        : rootPath(QDir::cleanPath(root)), encodedRoot(QFile::encodeName(rootPath).toStdString()),
          rewriter(std::move(origins)), skippedName(std::move(skipped))
    {
    }
    ~State()
    {
        for (const auto& entry : held)
            ::close(entry.second);
        if (inotifyFd >= 0)
            releaseWatches(); // a follower let go of early: not on the caller's time either
        for (const int fd : {rootFd, stopFd})
            if (fd >= 0)
                ::close(fd);
    }

    // What is known of a file below the folder.
    struct Taken
    {
        bool rewritten = false; // read (and written where it changed) at least once
        int replacements = 0;   // made in its current text
        qsizetype size = 0;     // of the text it was left with
        size_t textDigest = 0;  // of that text
        dev_t device = 0;       // of the file it was read from
        ino_t inode = 0;
    };

    const QString rootPath;
    const std::string encodedRoot;
    const LocalOriginRewriter rewriter;
    const std::string skippedName;
    int rootFd = -1;
    int inotifyFd = -1;
    int stopFd = -1;
    std::thread thread;
    std::atomic<bool> abandoned = false;

    // Owned by the thread until it is joined.
    std::unordered_map<int, std::string> folders; // watch → its path below the root, ending in '/'
    std::unordered_map<std::string, Taken> files; // by path below the root
    std::unordered_map<std::string, int> held;    // still open elsewhere when taken: our descriptor
    std::unordered_set<std::string> later;        // leased by somebody else: for the end
    std::unordered_set<std::string> unclosed;     // created, and not closed after writing since
    std::unordered_map<uint32_t, Taken> moving;   // renamed away, by the cookie of the rename
    // Our own closes of files opened for writing, whose close events are still to come. A
    // writer's close cannot be taken for ours: its open waited for the lease to be given back,
    // so its close comes after ours, with its write's event in between.
    std::unordered_map<std::string, int> ownCloses;
    bool fullPass = false;
    bool rootReplaced = false;
    bool leasesRefused = false;
    int parentWatch = -1; // while the folder is still to be created

    bool watchForRoot();
    void rootAppeared();

    void follow();
    void readEvents();
    void releaseWatches();
    void handle(const inotify_event& event);
    void watchFolder(const std::string& relative);
    int openForRewrite(const std::string& relative);
    void take(const std::string& relative, bool underLease);
    void settle();
    void forget(const std::string& path);
    std::string_view rootName() const;
};

void LiveOutputRewriter::State::follow()
{
    if (rootFd >= 0) {
        if (parentWatch >= 0)
            ::inotify_rm_watch(inotifyFd, parentWatch);
        parentWatch = -1;
        watchFolder({});
    }
    pollfd waits[2] = {{inotifyFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    while (!abandoned) {
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            fullPass = true;
            break;
        }
        if (waits[1].revents)
            break;
        if (waits[0].revents) {
            // Let a millisecond's events gather: waking for each one costs the writer (whose
            // events wake this thread) more than following closer saves at the end.
            pollfd stop{stopFd, POLLIN, 0};
            ::poll(&stop, 1, 1);
            readEvents();
        }
    }
    if (abandoned)
        return;
    // The writer has exited, and its last closes were queued before it did.
    readEvents();
    releaseWatches();
    settle();
}

// Closing an inotify descriptor waits for the kernel to retire its watches: from a tenth of a
// millisecond to over ten, and a process that exits with it open waits the same. So the last
// reference goes to a child that exits once ours is closed (`cat`, reading a pipe to its end),
// and that wait is the child's. Where no child can be started, it is closed here.
void LiveOutputRewriter::State::releaseWatches()
{
    // Starting the child takes a quarter of a millisecond: not on the caller's time either.
    std::thread([fd = std::exchange(inotifyFd, -1)] {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            ::close(fd);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fd, STDERR_FILENO + 1);
        char name[] = "cat";
        char* arguments[] = {name, nullptr};
        pid_t child = -1;
        const bool started = ::posix_spawn(&child, "/bin/cat", &actions, nullptr, arguments, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fd);
        ::close(pipeFds[1]); // the child's end of input: it exits
        ::close(pipeFds[0]);
        if (started)
            ::waitpid(child, nullptr, 0);
    }).detach();
}

void LiveOutputRewriter::State::readEvents()
{
    alignas(inotify_event) char buffer[64 * 1024];
    while (!abandoned) {
        const ssize_t got = ::read(inotifyFd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return; // EAGAIN: nothing more queued
        for (ssize_t offset = 0; offset < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            handle(*event);
            offset += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
}

void LiveOutputRewriter::State::handle(const inotify_event& event)
{
    if (event.mask & IN_Q_OVERFLOW) {
        fullPass = true;
        return;
    }
    if (event.wd == parentWatch) {
        const std::string_view name = event.len ? std::string_view(event.name) : std::string_view();
        if ((event.mask & IN_ISDIR) && (event.mask & (IN_CREATE | IN_MOVED_TO)) && name == rootName())
            rootAppeared();
        return;
    }
    const auto watched = folders.find(event.wd);
    if (watched == folders.end())
        return;
    if (event.mask & IN_IGNORED) {
        folders.erase(watched);
        return;
    }
    const std::string& folder = watched->second;
    if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
        // A folder below reports its own removal to its parent too; only the root's matters.
        if (folder.empty()) {
            fullPass = true;
            rootReplaced = true;
        }
        return;
    }
    const std::string_view name = event.len ? std::string_view(event.name) : std::string_view();
    if (folder.empty() && name == skippedName) {
        if (event.mask & (IN_DELETE | IN_MOVED_FROM))
            fullPass = true; // the writer clears the folder: start over at the end
        return;
    }
    std::string path = folder + std::string(name);
    if (event.mask & IN_ISDIR) {
        if (event.mask & (IN_CREATE | IN_MOVED_TO))
            watchFolder(path + '/');
        else if (event.mask & IN_MOVED_FROM)
            fullPass = true; // everything below has a new path
        // A removed folder was empty: its files' removals came first, its watch ends by itself.
        return;
    }
    if (event.mask & IN_CLOSE_WRITE) {
        const auto own = ownCloses.find(path);
        if (own == ownCloses.end())
            take(path, true);
        else if (--own->second == 0)
            ownCloses.erase(own);
    } else if (event.mask & IN_CLOSE_NOWRITE) {
        if (held.count(path))
            take(path, true);
    } else if (event.mask & IN_MOVED_TO) {
        // A file renamed within the folder keeps what was rewritten in it.
        if (auto moved = moving.extract(event.cookie))
            files.insert_or_assign(path, moved.mapped());
        take(path, true);
    } else if (event.mask & IN_MOVED_FROM) {
        if (auto leaving = files.extract(path); leaving && leaving.mapped().rewritten)
            moving.insert_or_assign(event.cookie, leaving.mapped());
        forget(path);
    } else if (event.mask & IN_CREATE) {
        if (files.try_emplace(path).second)
            unclosed.insert(std::move(path));
    } else if (event.mask & IN_DELETE) {
        files.erase(path);
        forget(path);
    }
}

// Drops what is pending for a path that is gone.
void LiveOutputRewriter::State::forget(const std::string& path)
{
    unclosed.erase(path);
    later.erase(path);
    if (const auto kept = held.find(path); kept != held.end()) {
        ::close(kept->second);
        held.erase(kept);
    }
}

std::string_view LiveOutputRewriter::State::rootName() const
{
    return std::string_view(encodedRoot).substr(encodedRoot.rfind('/') + 1);
}

// A folder that does not exist yet is followed from the moment its writer creates it, provided
// its parent exists.
bool LiveOutputRewriter::State::watchForRoot()
{
    const size_t slash = encodedRoot.rfind('/');
    if (slash == std::string::npos)
        return false;
    const std::string parent = slash == 0 ? std::string("/") : encodedRoot.substr(0, slash);
    parentWatch = ::inotify_add_watch(inotifyFd, parent.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
    return parentWatch >= 0;
}

void LiveOutputRewriter::State::rootAppeared()
{
    if (rootFd >= 0)
        return;
    ::inotify_rm_watch(inotifyFd, parentWatch);
    parentWatch = -1;
    rootFd = ::open(encodedRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) {
        fullPass = true; // gone again already
        return;
    }
    watchFolder({});
}

// Watches a folder, then takes what was written in it before the watch began. The watch comes
// first so that nothing closed in between is missed; a file seen both ways is read twice, and
// left alone the second time.
void LiveOutputRewriter::State::watchFolder(const std::string& relative)
{
    std::vector<std::string> pending{relative};
    while (!pending.empty() && !abandoned) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        const std::string path = folder.empty() ? encodedRoot : encodedRoot + '/' + folder;
        const int watch = ::inotify_add_watch(inotifyFd, path.c_str(), followedEvents);
        if (watch < 0) {
            if (errno != ENOENT && errno != ENOTDIR)
                fullPass = true; // out of watches, most likely
            continue;
        }
        if (!folders.emplace(watch, folder).second)
            continue; // already followed, and read when it was first watched
        const int fd = FolderEntries::openBelow(rootFd, folder);
        if (fd < 0)
            continue;
        FolderEntries entries(fd);
        const char* name = nullptr;
        unsigned char type = DT_UNKNOWN;
        while (entries.nextEntry(name, type)) {
            if (folder.empty() && std::string_view(name) == skippedName)
                continue;
            if (type == DT_DIR)
                pending.push_back(folder + name + '/');
            else if (type == DT_REG)
                take(folder + name, true);
            else if (type == DT_LNK)
                fullPass = true; // counted only if it leads to a file: the full walk knows
        }
    }
}

// The file to rewrite, open for reading and writing: the one held since it was busy, when it is
// still the file at that path, else a new descriptor. -1 when there is nothing to rewrite now.
int LiveOutputRewriter::State::openForRewrite(const std::string& relative)
{
    const auto kept = held.find(relative);
    if (kept != held.end()) {
        const int fd = kept->second;
        held.erase(kept);
        struct stat opened
        {
        };
        struct stat current
        {
        };
        if (::fstat(fd, &opened) == 0 &&
            ::fstatat(rootFd, relative.c_str(), &current, AT_SYMLINK_NOFOLLOW) == 0 &&
            opened.st_ino == current.st_ino && opened.st_dev == current.st_dev)
            return fd;
        // Another file took its place. Should this close read as a writer's, it costs one look.
        ::close(fd);
    }
    const int fd = ::openat(rootFd, relative.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        return fd;
    // Renamed or removed (ENOENT): the event saying so is on its way, or its folder went and a
    // full pass follows, so what is known of it stays.
    if (errno == EWOULDBLOCK)
        later.insert(relative); // somebody else holds a lease on it
    else if (errno != ENOENT)
        fullPass = true; // a link put in its place, or a file this pass cannot open
    return -1;
}

// Rewrites a file its writer has closed. Under a lease, a file still open elsewhere is held open
// until its writer's close comes: this descriptor's own close would be an event like the
// writer's, and the kernel may merge two such events into one.
void LiveOutputRewriter::State::take(const std::string& relative, bool underLease)
{
    Taken& taken = files[relative];
    unclosed.erase(relative);
    const size_t slash = relative.rfind('/');
    if (leasesRefused || !OutputFolderRewriter::isRewritten(std::string_view(relative).substr(slash + 1)))
        return;
    const int fd = openForRewrite(relative);
    if (fd < 0)
        return;
    bool keepOpen = false;
    const auto closing = qScopeGuard([this, fd, &relative, &keepOpen] {
        if (keepOpen)
            return;
        ::close(fd); // gives the lease back
        ++ownCloses[relative];
    });
    if (underLease && ::fcntl(fd, F_SETLEASE, F_WRLCK) != 0) {
        if (errno == EAGAIN) {
            held.emplace(relative, fd);
            keepOpen = true;
        } else {
            leasesRefused = true; // this file system has no leases: leave it all to the end
            fullPass = true;
        }
        return;
    }
    QByteArray bytes;
    struct stat status
    {
    };
    if (!OutputFolderRewriter::readWhole(fd, bytes, &status)) {
        fullPass = true;
        return;
    }
    // A writer that appended to the rewritten text left the earlier replacements in place; one
    // that wrote the file anew took them away. (An origin a writer splits between two appends,
    // the first ending just after the host, is taken for a whole one: "//…" where a rewrite
    // after the writer gives "/…". Generators do not write pages in such pieces.)
    const bool appended = taken.rewritten && bytes.size() >= taken.size &&
                          digest(QByteArrayView(bytes).first(taken.size)) == taken.textDigest;
    const int count = rewriter.rewrite(bytes);
    if (count > 0 && !OutputFolderRewriter::replaceWhole(fd, bytes)) {
        fullPass = true; // the full pass reports what is wrong with it
        return;
    }
    taken.replacements = (appended ? taken.replacements : 0) + count;
    taken.rewritten = true;
    taken.size = bytes.size();
    taken.textDigest = digest(bytes);
    taken.device = status.st_dev;
    taken.inode = status.st_ino;
}

// After the writer: files created but never closed after writing (links, or files a process that
// outlived the writer still holds), and those still held or leased by others, are settled without
// a lease, as a rewrite after the writer would.
void LiveOutputRewriter::State::settle()
{
    if (rootFd < 0) {
        // Never seen: whatever is there now was made without us.
        fullPass = true;
        rootReplaced = true;
        return;
    }
    std::vector<std::string> left(later.begin(), later.end());
    for (const auto& entry : held)
        left.push_back(entry.first);
    left.insert(left.end(), unclosed.begin(), unclosed.end());
    for (const std::string& path : left) {
        struct stat info
        {
        };
        if (::fstatat(rootFd, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (!fullPass)
                files.erase(path); // no event will come now; a full pass still finds it by inode
        } else if (S_ISLNK(info.st_mode)) {
            fullPass = true;
        } else if (S_ISREG(info.st_mode)) {
            take(path, false);
        } else {
            files.erase(path);
        }
    }
    later.clear();
    unclosed.clear();
}

std::unique_ptr<LiveOutputRewriter>
LiveOutputRewriter::follow(const QString& folder, LocalOriginRewriter rewriter, std::string skippedName)
{
    auto state = std::make_unique<State>(folder, std::move(rewriter), std::move(skippedName));
    state->inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    state->stopFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (state->inotifyFd < 0 || state->stopFd < 0)
        return nullptr;
    state->rootFd = ::open(state->encodedRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (state->rootFd < 0) {
        if (errno != ENOENT || !state->watchForRoot())
            return nullptr;
        // Created between the two looks: followed from here, the thread reads it whole.
        state->rootFd = ::open(state->encodedRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    defuseLeaseBreakSignal();
    State* following = state.get();
    state->thread = std::thread([following] {
        ::pthread_setname_np(::pthread_self(), "Output rewrite");
        following->follow();
    });
    return std::unique_ptr<LiveOutputRewriter>(new LiveOutputRewriter(std::move(state)));
}

LiveOutputRewriter::~LiveOutputRewriter()
{
    if (!m_state->thread.joinable())
        return;
    m_state->abandoned = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_state->stopFd, &one, sizeof one);
    m_state->thread.join();
}

OutputFolderRewriter::Result LiveOutputRewriter::finish()
{
    State& state = *m_state;
    if (state.thread.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(state.stopFd, &one, sizeof one);
        state.thread.join();
    }
    if (!state.fullPass) {
        int replacements = 0;
        for (const auto& entry : state.files)
            replacements += entry.second.replacements;
        return {replacements, int(state.files.size())};
    }
    // Files rewritten while following count with what the full pass still finds in them, found by
    // their inode (a moved folder gives them new paths), unless the folder was replaced and
    // everything in it is new.
    std::unordered_map<ino_t, std::vector<std::pair<dev_t, int>>> earlierByInode;
    if (!state.rootReplaced)
        for (const auto& entry : state.files)
            if (entry.second.rewritten && entry.second.replacements > 0)
                earlierByInode[entry.second.inode].emplace_back(entry.second.device,
                                                                entry.second.replacements);
    const auto earlier = [&earlierByInode](dev_t device, ino_t inode) {
        const auto known = earlierByInode.find(inode);
        if (known != earlierByInode.end())
            for (const auto& [knownDevice, replacements] : known->second)
                if (knownDevice == device)
                    return replacements;
        return 0;
    };
    return OutputFolderRewriter::run(state.rootPath, state.rewriter, state.skippedName, earlier);
}

bool LiveOutputRewriter::madeFullPass() const
{
    return m_state->fullPass;
}

#else

struct LiveOutputRewriter::State
{
};

std::unique_ptr<LiveOutputRewriter> LiveOutputRewriter::follow(const QString&, LocalOriginRewriter,
                                                               std::string)
{
    return nullptr;
}

LiveOutputRewriter::~LiveOutputRewriter() = default;

OutputFolderRewriter::Result LiveOutputRewriter::finish()
{
    return {};
}

bool LiveOutputRewriter::madeFullPass() const
{
    return true;
}

#endif

LiveOutputRewriter::LiveOutputRewriter(std::unique_ptr<State> state) : m_state(std::move(state)) {}

} // namespace halvik
