#include "ParallelFolderWalk.h"

#include <QFile>
#include <QScopeGuard>

#include <atomic>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
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
    walk.m_pool.start([&walk] { walk.visitFolder(::dup(walk.m_rootFd), {}); });
    // Each task queues its subfolders before it ends, so the pool is idle only when the tree is done.
    walk.m_pool.waitForDone();
    return true;
}

int ParallelFolderWalk::countFiles(const QString& folder)
{
    std::atomic<int> count = 0;
    run(folder, [&count](const File&) { ++count; });
    return count.load();
}

void ParallelFolderWalk::visitFolder(int folderFd, std::string relative)
{
    DIR* dir = folderFd >= 0 ? ::fdopendir(folderFd) : nullptr;
    if (!dir) {
        if (folderFd >= 0)
            ::close(folderFd);
        return;
    }
    const auto closing = qScopeGuard([dir] { ::closedir(dir); });
    const int fd = ::dirfd(dir);
    while (const dirent* item = ::readdir(dir)) {
        const std::string_view name(item->d_name);
        if (name == "." || name == ".." || (relative.empty() && name == m_skippedName))
            continue;
        unsigned char type = item->d_type;
        struct stat info
        {
        };
        if (type == DT_UNKNOWN && ::fstatat(fd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0)
            type = S_ISDIR(info.st_mode)   ? DT_DIR
                   : S_ISREG(info.st_mode) ? DT_REG
                   : S_ISLNK(info.st_mode) ? DT_LNK
                                           : DT_UNKNOWN;
        std::string path = relative.empty() ? std::string(name) : relative + '/' + item->d_name;
        if (type == DT_DIR) {
            // Opened by the task that reads it, so only folders being read hold a descriptor.
            m_pool.start([this, path = std::move(path)]() mutable {
                const int child =
                    ::openat(m_rootFd, path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                visitFolder(child, std::move(path));
            });
        } else if (type == DT_REG) {
            m_visit(File{fd, item->d_name, path, false});
        } else if (type == DT_LNK && ::fstatat(fd, item->d_name, &info, 0) == 0 && S_ISREG(info.st_mode)) {
            m_visit(File{fd, item->d_name, path, true});
        }
    }
}

} // namespace halvik
