#pragma once

#include "LocalOriginRewriter.h"

#include "async/HalvikError.h"

#include <QMutex>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <string>

namespace halvik {

// Rewrites the local origins in every text file of a generated output folder, in place. Built
// for folders of thousands of small pages, where the cost is in the file system calls, not the
// text: each folder is a task on every core, its entries known by the types the directory
// carries (no stat per file) and its files opened relative to it (no path walked from the root).
class OutputFolderRewriter
{
public:
    struct Result
    {
        int replacements = 0;
        int files = 0; // regular files, and links that lead to one
    };

    OutputFolderRewriter(QString folder, LocalOriginRewriter rewriter);

    // Links are counted but never followed or written through: they may point into the site
    // itself. `skippedName` (a file directly in the folder) is neither counted nor read. Throws
    // HalvikError on a file that cannot be written, once every other file has been done.
    Result run(const std::string& skippedName = {});

private:
    void visit(int folderFd, std::string relative);
    int rewriteFile(int folderFd, const char* name, const std::string& relative) const;
    void fail(const HalvikError& error);
    QString failureText(const std::string& relative) const;

    QString m_folder;
    LocalOriginRewriter m_rewriter;
    std::string m_skippedName;
    int m_rootFd = -1;
    QThreadPool m_pool;
    std::atomic<int> m_replacements = 0;
    std::atomic<int> m_files = 0;
    QMutex m_lock;
    QString m_failure;
};

} // namespace halvik
