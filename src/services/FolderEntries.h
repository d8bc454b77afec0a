#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace halvik {

// A folder's entries, read straight from the kernel where it can be: opendir's own checks cost
// three more system calls per folder, as much as visiting its file, in outputs of one page per
// folder. Owns the descriptor it is given.
class FolderEntries
{
public:
    explicit FolderEntries(int fd) : m_fd(fd)
    {
#ifndef __linux__
        m_dir = ::fdopendir(fd);
#endif
    }
    ~FolderEntries()
    {
#ifdef __linux__
        ::close(m_fd);
#else
        if (m_dir)
            ::closedir(m_dir);
        else
            ::close(m_fd);
#endif
    }
    FolderEntries(const FolderEntries&) = delete;
    FolderEntries& operator=(const FolderEntries&) = delete;

    // A descriptor of the folder at `relative` below `rootFd` (the root itself for ""), never
    // through a link; -1 when it cannot be opened.
    static int openBelow(int rootFd, const std::string& relative)
    {
        return relative.empty()
                   ? ::dup(rootFd)
                   : ::openat(rootFd, relative.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }

    // The next entry other than "." and "..", with its type asked of the file system where the
    // folder did not carry it (DT_UNKNOWN for anything but a folder, a file or a link).
    bool nextEntry(const char*& name, unsigned char& type)
    {
        while (next(name, type)) {
            const std::string_view entry(name);
            if (entry == "." || entry == "..")
                continue;
            struct stat info
            {
            };
            if (type == DT_UNKNOWN && ::fstatat(m_fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISDIR(info.st_mode)   ? DT_DIR
                       : S_ISREG(info.st_mode) ? DT_REG
                       : S_ISLNK(info.st_mode) ? DT_LNK
                                               : DT_UNKNOWN;
            return true;
        }
        return false;
    }

    // The next entry's name and type (DT_UNKNOWN where the file system does not say), or false
    // at the end or on an error.
    bool next(const char*& name, unsigned char& type)
    {
#ifdef __linux__
        if (m_offset >= m_filled) {
            const ssize_t got = ::getdents64(m_fd, m_buffer, sizeof m_buffer);
            if (got <= 0)
                return false;
            m_filled = got;
            m_offset = 0;
        }
        const auto* entry = reinterpret_cast<const dirent64*>(m_buffer + m_offset);
        m_offset += entry->d_reclen;
        name = entry->d_name;
        type = entry->d_type;
        return true;
#else
        const dirent* entry = m_dir ? ::readdir(m_dir) : nullptr;
        if (!entry)
            return false;
        name = entry->d_name;
        type = entry->d_type;
        return true;
#endif
    }

private:
    int m_fd;
#ifdef __linux__
    alignas(dirent64) char m_buffer[32 * 1024];
    ssize_t m_filled = 0;
    ssize_t m_offset = 0;
#else
    DIR* m_dir = nullptr;
#endif
};

} // namespace halvik
