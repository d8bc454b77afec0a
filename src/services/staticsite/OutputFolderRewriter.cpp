#include "OutputFolderRewriter.h"

#include "StaticSiteSupport.h"

#include "async/HalvikError.h"

#include <QFile>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace halvik {

namespace {

bool hasRewrittenExtension(std::string_view name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const QLatin1StringView extension(name.substr(dot + 1));
    static const QStringList extensions = StaticSiteSupport::rewrittenExtensions();
    for (const QString& candidate : extensions)
        if (candidate.compare(extension, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

OutputFolderRewriter::OutputFolderRewriter(QString folder, LocalOriginRewriter rewriter)
    : m_folder(std::move(folder)), m_rewriter(std::move(rewriter))
{
}

OutputFolderRewriter::Result OutputFolderRewriter::run(const std::string& skippedName)
{
    m_skippedName = skippedName;
    m_rootFd = ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_rootFd < 0)
        return {};
    const auto closing = qScopeGuard([this] { ::close(m_rootFd); });
    m_pool.start([this] { visit(::dup(m_rootFd), {}); });
    // Tasks queue their subfolders before they end, so the pool is done when the tree is.
    m_pool.waitForDone();
    if (!m_failure.isEmpty())
        throw HalvikError(m_failure);
    return {m_replacements.load(), m_files.load()};
}

void OutputFolderRewriter::visit(int folderFd, std::string relative)
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
                visit(child, std::move(path));
            });
        } else if (type == DT_REG) {
            ++m_files;
            if (!hasRewrittenExtension(name))
                continue;
            try {
                m_replacements += rewriteFile(fd, item->d_name, path);
            } catch (const HalvikError& error) {
                fail(error);
            }
        } else if (type == DT_LNK && ::fstatat(fd, item->d_name, &info, 0) == 0 && S_ISREG(info.st_mode)) {
            ++m_files;
        }
    }
}

void OutputFolderRewriter::fail(const HalvikError& error)
{
    const QMutexLocker locked(&m_lock);
    if (m_failure.isEmpty())
        m_failure = error.description();
}

QString OutputFolderRewriter::failureText(const std::string& relative) const
{
    return QStringLiteral("Couldn’t rewrite %1/%2: %3")
        .arg(m_folder, QFile::decodeName(relative.c_str()), QString::fromLocal8Bit(std::strerror(errno)));
}

// Rewriting only ever shortens a file, so its new text is written over the old and the rest cut
// off: no temporary file, no rename. Replacing thousands of freshly generated files by renames
// costs the file system a block release and a forced write-out each, many times the work of the
// rewriting itself; an interrupted run is caught at the folder level instead.
int OutputFolderRewriter::rewriteFile(int folderFd, const char* name, const std::string& relative) const
{
    const int fd = ::openat(folderFd, name, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return 0; // gone since the folder was read: nothing to rewrite
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0)
        throw HalvikError(failureText(relative));
    QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw HalvikError(failureText(relative));
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
    const int count = m_rewriter.rewrite(bytes);
    if (count == 0)
        return 0;
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t put =
            ::pwrite(fd, bytes.constData() + written, size_t(bytes.size() - written), written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            throw HalvikError(failureText(relative));
        written += put;
    }
    if (::ftruncate(fd, off_t(bytes.size())) != 0)
        throw HalvikError(failureText(relative));
    return count;
}

} // namespace halvik
