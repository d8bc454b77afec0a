#include "FolderCopier.h"

#include <QDir>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvik {

namespace {

enum class Kind
{
    folder,
    file,
    link,
    other
};

struct Entry
{
    std::string relative; // below the root, without a leading slash
    Kind kind;
    mode_t mode;
    off_t size;
};

class CopyFailure
{
public:
    QString message;
};

QString systemMessage(const char* what, const std::string& path)
{
    return QStringLiteral("%1 %2: %3")
        .arg(QString::fromLatin1(what), QString::fromStdString(path),
             QString::fromLocal8Bit(std::strerror(errno)));
}

// Lists the tree below `root` depth first, folders before their contents.
void walk(const std::string& root, const std::string& relative, const QSet<QString>& excluded,
          std::vector<Entry>& entries, qint64& totalBytes)
{
    const std::string folder = relative.empty() ? root : root + '/' + relative;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        throw CopyFailure{systemMessage("Cannot read", folder)};
    std::vector<std::string> names;
    while (const dirent* item = ::readdir(dir)) {
        const char* name = item->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (excluded.contains(QString::fromLocal8Bit(name)))
            continue;
        names.emplace_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        const std::string child = relative.empty() ? name : relative + '/' + name;
        struct stat info
        {
        };
        if (::lstat((root + '/' + child).c_str(), &info) != 0)
            throw CopyFailure{systemMessage("Cannot read", root + '/' + child)};
        Kind kind = Kind::other;
        if (S_ISDIR(info.st_mode))
            kind = Kind::folder;
        else if (S_ISREG(info.st_mode))
            kind = Kind::file;
        else if (S_ISLNK(info.st_mode))
            kind = Kind::link;
        entries.push_back({child, kind, info.st_mode, info.st_size});
        if (kind == Kind::file)
            totalBytes += info.st_size;
        if (kind == Kind::folder)
            walk(root, child, excluded, entries, totalBytes);
    }
}

// Copies one regular file's bytes; returns false on a failure (errno set).
bool copyBytes(int from, int to, off_t size, qint64& done, const std::function<void(qint64)>& advanced)
{
    if (size > 0 && ::ioctl(to, FICLONE, from) == 0) {
        done += size;
        advanced(done);
        return true;
    }
    off_t left = size;
    bool kernelCopy = true;
    std::vector<char> buffer;
    while (left > 0 || !kernelCopy) {
        ssize_t moved = -1;
        if (kernelCopy) {
            moved = ::copy_file_range(from, nullptr, to, nullptr, size_t(std::min<off_t>(left, 1 << 30)), 0);
            if (moved < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                buffer.resize(1 << 20);
                continue;
            }
        } else {
            moved = ::read(from, buffer.data(), buffer.size());
            if (moved > 0) {
                ssize_t written = 0;
                while (written < moved) {
                    const ssize_t n = ::write(to, buffer.data() + written, size_t(moved - written));
                    if (n < 0)
                        return false;
                    written += n;
                }
            }
        }
        if (moved < 0)
            return false;
        if (moved == 0)
            break; // the file shrank while copying
        left -= moved;
        done += moved;
        advanced(done);
    }
    return true;
}

} // namespace

QString FolderCopier::repointedLink(const QString& target, const QString& sourceRoot,
                                    const QString& destinationRoot)
{
    if (!target.startsWith(QLatin1Char('/')))
        return target;
    const QString root = QDir::cleanPath(sourceRoot);
    const QString cleanTarget = QDir::cleanPath(target);
    if (cleanTarget == root)
        return QDir::cleanPath(destinationRoot);
    if (cleanTarget.startsWith(root + QLatin1Char('/')))
        return QDir::cleanPath(destinationRoot) + cleanTarget.mid(root.size());
    return target;
}

FolderCopier::Result FolderCopier::copy(const Options& options, const std::atomic<bool>& cancel,
                                        const Progress& progress)
{
    Result result;
    const std::string source = QDir::cleanPath(options.source).toStdString();
    const std::string destination = QDir::cleanPath(options.destination).toStdString();
    using Clock = std::chrono::steady_clock;
    auto lastReport = Clock::now();
    const auto report = [&](qint64 done) {
        result.bytes = done;
        const auto now = Clock::now();
        if (progress && now - lastReport >= std::chrono::milliseconds(20)) {
            lastReport = now;
            progress(done, result.totalBytes);
        }
    };
    try {
        std::vector<Entry> entries;
        walk(source, {}, options.excludedNames, entries, result.totalBytes);
        struct stat rootInfo
        {
        };
        ::stat(source.c_str(), &rootInfo);
        if (::mkdir(destination.c_str(), 0700) != 0)
            throw CopyFailure{systemMessage("Cannot create", destination)};
        std::vector<std::pair<std::string, mode_t>> folders{{destination, rootInfo.st_mode}};
        qint64 done = 0;
        for (const Entry& entry : entries) {
            if (cancel.load(std::memory_order_relaxed)) {
                result.cancelled = true;
                return result;
            }
            const std::string from = source + '/' + entry.relative;
            const std::string to = destination + '/' + entry.relative;
            switch (entry.kind) {
            case Kind::folder:
                if (::mkdir(to.c_str(), 0700) != 0)
                    throw CopyFailure{systemMessage("Cannot create", to)};
                folders.emplace_back(to, entry.mode);
                break;
            case Kind::file: {
                const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
                if (in < 0)
                    throw CopyFailure{systemMessage("Cannot read", from)};
                const int out =
                    ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, entry.mode & 07777);
                if (out < 0) {
                    ::close(in);
                    throw CopyFailure{systemMessage("Cannot create", to)};
                }
                const bool copied = copyBytes(in, out, entry.size, done, report);
                const int copyErrno = errno;
                ::fchmod(out, entry.mode & 07777);
                ::close(in);
                if (::close(out) != 0 || !copied) {
                    errno = copied ? errno : copyErrno;
                    throw CopyFailure{systemMessage("Cannot copy", from)};
                }
                break;
            }
            case Kind::link: {
                std::string target(4096, '\0');
                const ssize_t length = ::readlink(from.c_str(), target.data(), target.size());
                if (length < 0)
                    throw CopyFailure{systemMessage("Cannot read", from)};
                target.resize(size_t(length));
                const QString pointed =
                    repointedLink(QString::fromStdString(target), options.source, options.destination);
                if (::symlink(pointed.toStdString().c_str(), to.c_str()) != 0)
                    throw CopyFailure{systemMessage("Cannot create", to)};
                break;
            }
            case Kind::other:
                result.notes << QStringLiteral("Skipped %1 (not a file, folder or link).")
                                    .arg(QString::fromStdString(entry.relative));
                break;
            }
        }
        // Modes of folders last, deepest first, so read-only folders could still be filled.
        for (auto it = folders.rbegin(); it != folders.rend(); ++it)
            ::chmod(it->first.c_str(), it->second & 07777);
        result.bytes = done;
        if (progress)
            progress(done, result.totalBytes);
    } catch (const CopyFailure& failure) {
        result.error = failure.message;
    }
    return result;
}

} // namespace halvik
