#pragma once

#include <QMutex>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <string>

namespace halvik {

// Visits every file below a folder on every core. Built for folders of thousands of small
// files, where the cost is in the file system calls: each folder is one task, its entries are
// known by the types the directory carries (no stat per file), and each file is handed over with
// its folder's descriptor so it can be opened relative to it (no path walked from the root).
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
    // Called from pool threads, several at once.
    using Visitor = std::function<void(const File&)>;

    // Walks `folder`, visiting regular files and links that lead to one (never following a link
    // to a folder). `skippedName`, a file directly in the folder, is left out. Returns false when
    // the folder cannot be opened. Folders that cannot be read below it are skipped.
    static bool run(const QString& folder, const Visitor& visit, const std::string& skippedName = {});
    // The files run() visits: regular files and links that lead to one. 0 for no folder.
    static int countFiles(const QString& folder);

private:
    ParallelFolderWalk(const Visitor& visit, std::string skippedName);
    void visitFolder(int folderFd, std::string relative);

    const Visitor& m_visit;
    const std::string m_skippedName;
    int m_rootFd = -1;
    QThreadPool m_pool;
};

} // namespace halvik
