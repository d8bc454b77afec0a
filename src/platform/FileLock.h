#pragma once

#include <QString>

#include <optional>

namespace halvik {

// An exclusive advisory lock on a lock file, held from construction to destruction, shared
// by every process that uses the same path. The system drops it if the process dies, so a
// crash never leaves it held. Blocks until the lock is free.
class FileLock
{
public:
    enum class Wait
    {
        block,   // until the lock is free
        tryOnce, // gives up at once when someone else holds it: see held()
    };

    explicit FileLock(const QString& path, Wait wait = Wait::block);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Why the lock could not be taken; the holder then goes on unlocked rather than losing work.
    const std::optional<QString>& error() const { return m_error; }
    // Whether this object holds the lock (false after a tryOnce that found it taken).
    bool held() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
    std::optional<QString> m_error;
};

// What a file looked like when it was last read or written: enough to tell that someone
// replaced or rewrote it since.
struct FileStamp
{
    bool exists = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    static FileStamp of(const QString& path);
    bool operator==(const FileStamp&) const = default;
};

} // namespace halvik
