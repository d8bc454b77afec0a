#pragma once

#include "LocalOriginRewriter.h"

#include <QString>

#include <string>

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

    // Links are counted but never followed or written through: they may point into the site
    // itself. `skippedName` (a file directly in the folder) is neither counted nor read. Throws
    // HalvikError on a file that cannot be written, once every other file has been done.
    static Result run(const QString& folder, const LocalOriginRewriter& rewriter,
                      const std::string& skippedName = {});

private:
    static int rewriteFile(int folderFd, const char* name, const QString& folder, const std::string& relative,
                           const LocalOriginRewriter& rewriter);
};

} // namespace halvik
