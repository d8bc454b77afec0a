#pragma once

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace halvik {

// Visits every file below a folder on every core. Built for folders of thousands of small
// files, where the cost is in the file system calls: each folder is read once by one worker,
// its entries are known by the types the directory carries (no stat per file), and each file is
// handed over with its folder's descriptor so it can be opened relative to it (no path walked
// from the root).
class ParallelFolderWalk
{
public:
    struct File
    {
        int folderFd;                // the folder holding it, for openat
        const char* name;            // its name in that folder
        const std::string& relative; // its path below the walked folder
        bool isLink;                 // a symbolic link that leads to a regular file
    };
    // Called from the walk's threads, several at once; it reports failures itself and never
    // throws (the walk's threads do not catch).
    using Visitor = std::function<void(const File&)>;

    // Walks `folder`, visiting regular files and links that lead to one (never following a link
    // to a folder). `skippedName`, a file directly in the folder, is left out. Returns false when
    // the folder cannot be opened. Folders that cannot be read below it are skipped.
    static bool run(const QString& folder, const Visitor& visit, const std::string& skippedName = {});
    // The files run() visits: regular files and links that lead to one. 0 for no folder.
    static int countFiles(const QString& folder);

private:
    ParallelFolderWalk(const Visitor& visit, std::string skippedName);
    // Takes folders from the queue until every folder has been read.
    void work();
    // Reads one folder: its files are visited, its subfolders queued.
    void visitFolder(const std::string& relative);
    // Adds `folders` to the queue for whichever worker is free, and empties it.
    void queue(std::vector<std::string>& folders);

    const Visitor& m_visit;
    const std::string m_skippedName;
    int m_rootFd = -1;

    // Folders still to read, by their path below the root ("" for the root). A worker that finds
    // the queue empty waits while others still read: they may queue more.
    std::mutex m_lock;
    std::condition_variable m_queued;
    std::deque<std::string> m_folders;
    int m_reading = 0;
};

} // namespace halvik
