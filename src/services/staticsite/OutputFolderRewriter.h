#pragma once

#include "LocalOriginRewriter.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace halvik {

// Rewrites the local origins in every text file of a generated output folder, in place, on
// every core.
class OutputFolderRewriter
{
public:
    struct Result
    {
        int replacements = 0;
        int files = 0; // regular files, and links that lead to one
    };
    // Replacements already made in a file (by its device and inode, which a rename keeps) before
    // this pass, to be counted with the pass's own.
    using EarlierReplacements = std::function<int(dev_t device, ino_t inode)>;

    // Links are counted but never followed or written through: they may point into the site
    // itself. `skippedName` (a file directly in the folder) is neither counted nor read. Throws
    // HalvikError on a file that cannot be written, once every other file has been done.
    static Result run(const QString& folder, const LocalOriginRewriter& rewriter,
                      const std::string& skippedName = {}, const EarlierReplacements& earlier = {});

    // Whether a file of this name is one whose text is rewritten.
    static bool isRewritten(std::string_view name);
    // The whole content of an open file, read from its start, and the file's status when asked.
    // False with errno on an error.
    static bool readWhole(int fd, QByteArray& bytes, struct stat* status = nullptr);
    // Replaces the whole content of an open file by `bytes`. False with errno on an error.
    static bool replaceWhole(int fd, const QByteArray& bytes);

private:
    // The replacements made in one file, with those `earlier` knows of.
    static int rewriteFile(int folderFd, const char* name, const QString& folder, const std::string& relative,
                           const LocalOriginRewriter& rewriter, const EarlierReplacements& earlier);
};

} // namespace halvik
