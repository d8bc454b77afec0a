#include "FileLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvik {

FileLock::FileLock(const QString& path, Wait wait)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    m_fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        m_error = QStringLiteral("Couldn’t open the lock file %1: %2")
                      .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    int result;
    do
        result = ::flock(m_fd, wait == Wait::tryOnce ? LOCK_EX | LOCK_NB : LOCK_EX);
    while (result != 0 && errno == EINTR);
    m_held = result == 0;
    if (result != 0 && errno == EWOULDBLOCK)
        return;
    if (result != 0)
        m_error =
            QStringLiteral("Couldn’t lock %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
}

FileLock::~FileLock()
{
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
}

FileStamp FileStamp::of(const QString& path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    FileStamp stamp;
    stamp.exists = true;
    stamp.device = static_cast<quint64>(info.st_dev);
    stamp.inode = static_cast<quint64>(info.st_ino);
    stamp.size = static_cast<qint64>(info.st_size);
#ifdef Q_OS_MACOS
    stamp.modifiedNs = qint64(info.st_mtimespec.tv_sec) * 1000000000 + info.st_mtimespec.tv_nsec;
    stamp.changedNs = qint64(info.st_ctimespec.tv_sec) * 1000000000 + info.st_ctimespec.tv_nsec;
#else
    stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.changedNs = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
#endif
    return stamp;
}

} // namespace halvik
