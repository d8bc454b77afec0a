#include "OutputFolderRewriter.h"

#include "StaticSiteSupport.h"

#include "async/HalvikError.h"
#include "services/ParallelFolderWalk.h"

#include <QFile>
#include <QMutex>
#include <QScopeGuard>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace halvik {

namespace {

HalvikError failure(const QString& folder, const std::string& relative)
{
    return HalvikError(
        QStringLiteral("Couldn’t rewrite %1/%2: %3")
            .arg(folder, QFile::decodeName(relative.c_str()), QString::fromLocal8Bit(std::strerror(errno))));
}

} // namespace

bool OutputFolderRewriter::isRewritten(std::string_view name)
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

OutputFolderRewriter::Result OutputFolderRewriter::run(const QString& folder,
                                                       const LocalOriginRewriter& rewriter,
                                                       const std::string& skippedName,
                                                       const EarlierReplacements& earlier)
{
    std::atomic<int> replacements = 0;
    std::atomic<int> files = 0;
    QMutex lock;
    QString firstFailure;
    const auto visit = [&](const ParallelFolderWalk::File& file) {
        ++files;
        if (file.isLink || !isRewritten(file.name))
            return;
        try {
            replacements += rewriteFile(file.folderFd, file.name, folder, file.relative, rewriter, earlier);
        } catch (const HalvikError& error) {
            const QMutexLocker locked(&lock);
            if (firstFailure.isEmpty())
                firstFailure = error.description();
        }
    };
    ParallelFolderWalk::run(folder, visit, skippedName);
    if (!firstFailure.isEmpty())
        throw HalvikError(firstFailure);
    return {replacements.load(), files.load()};
}

// Rewriting only ever shortens a file, so its new text is written over the old and the rest cut
// off: no temporary file, no rename. Replacing thousands of freshly generated files by renames
// costs the file system a block release and a forced write-out each, many times the work of the
// rewriting itself; an interrupted run is caught at the folder level instead.
int OutputFolderRewriter::rewriteFile(int folderFd, const char* name, const QString& folder,
                                      const std::string& relative, const LocalOriginRewriter& rewriter,
                                      const EarlierReplacements& earlier)
{
    const int fd = ::openat(folderFd, name, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return 0; // gone since the folder was read: nothing to rewrite
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    QByteArray bytes;
    struct stat status
    {
    };
    if (!readWhole(fd, bytes, &status))
        throw failure(folder, relative);
    const int count = rewriter.rewrite(bytes);
    if (count > 0 && !replaceWhole(fd, bytes))
        throw failure(folder, relative);
    return earlier ? count + earlier(status.st_dev, status.st_ino) : count;
}

bool OutputFolderRewriter::readWhole(int fd, QByteArray& bytes, struct stat* status)
{
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0)
        return false;
    if (status)
        *status = info;
    bytes.resize(qsizetype(info.st_size));
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::pread(fd, bytes.data() + filled, size_t(bytes.size() - filled), filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
    return true;
}

bool OutputFolderRewriter::replaceWhole(int fd, const QByteArray& bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t put =
            ::pwrite(fd, bytes.constData() + written, size_t(bytes.size() - written), written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;
            return false;
        }
        written += put;
    }
    return ::ftruncate(fd, off_t(bytes.size())) == 0;
}

} // namespace halvik
