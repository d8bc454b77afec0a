#include "ParallelFolderWalk.h"

#include "FolderEntries.h"

#include <QFile>
#include <QScopeGuard>
#include <QThread>

#include <atomic>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace halvik {

ParallelFolderWalk::ParallelFolderWalk(const Visitor& visit, std::string skippedName)
    : m_visit(visit), m_skippedName(std::move(skippedName))
{
}

bool ParallelFolderWalk::run(const QString& folder, const Visitor& visit, const std::string& skippedName)
{
    ParallelFolderWalk walk(visit, skippedName);
    walk.m_rootFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (walk.m_rootFd < 0)
        return false;
    const auto closing = qScopeGuard([&walk] { ::close(walk.m_rootFd); });
    walk.m_folders.emplace_back();
    std::vector<std::thread> helpers;
    for (int i = 1; i < QThread::idealThreadCount(); ++i)
        helpers.emplace_back([&walk] { walk.work(); });
    walk.work();
    for (std::thread& helper : helpers)
        helper.join();
    return true;
}

int ParallelFolderWalk::countFiles(const QString& folder)
{
    std::atomic<int> count = 0;
    run(folder, [&count](const File&) { ++count; });
    return count.load();
}

void ParallelFolderWalk::work()
{
    std::unique_lock locked(m_lock);
    while (true) {
        m_queued.wait(locked, [this] { return !m_folders.empty() || m_reading == 0; });
        if (m_folders.empty())
            return; // nothing queued and nobody reading: the tree is done
        const std::string relative = std::move(m_folders.front());
        m_folders.pop_front();
        ++m_reading;
        locked.unlock();
        visitFolder(relative);
        locked.lock();
        if (--m_reading == 0 && m_folders.empty())
            m_queued.notify_all();
    }
}

void ParallelFolderWalk::visitFolder(const std::string& relative)
{
    const int fd = FolderEntries::openBelow(m_rootFd, relative);
    if (fd < 0)
        return;
    FolderEntries entries(fd);
    std::vector<std::string> subfolders;
    const char* name = nullptr;
    unsigned char type = DT_UNKNOWN;
    while (entries.nextEntry(name, type)) {
        const std::string_view entry(name);
        if (relative.empty() && entry == m_skippedName)
            continue;
        std::string path = relative.empty() ? std::string(entry) : relative + '/' + name;
        struct stat target
        {
        };
        if (type == DT_DIR)
            subfolders.push_back(std::move(path)); // opened by whoever reads it, so few stay open
        else if (type == DT_REG)
            m_visit(File{fd, name, path, false});
        else if (type == DT_LNK && ::fstatat(fd, name, &target, 0) == 0 && S_ISREG(target.st_mode))
            m_visit(File{fd, name, path, true});
        // Others may be idle: hand them folders as they are found, a few at a time.
        if (subfolders.size() >= 16)
            queue(subfolders);
    }
    queue(subfolders);
}

void ParallelFolderWalk::queue(std::vector<std::string>& folders)
{
    if (folders.empty())
        return;
    const std::lock_guard locked(m_lock);
    for (std::string& folder : folders)
        m_folders.push_back(std::move(folder));
    folders.clear();
    m_queued.notify_all();
}

} // namespace halvik
