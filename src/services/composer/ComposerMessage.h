#pragma once

#include <QString>

namespace halvik {

// What Composer's failure output says, as one sentence a person can act on: the exception's own
// text (without the "In RemoteFilesystem.php line 476:" frame line, the block's padding and the
// command's option synopsis), whether the package repository could not be reached, and whether
// the site's dependencies are installed at all.
class ComposerMessage
{
public:
    // The sentence for a failed run; output without an exception block is kept, minus the synopsis.
    static QString describe(const QString& output);
    // The text of Composer's first exception block, its wrapped lines joined again; empty without one.
    static QString exceptionText(const QString& output);
    // Composer said there is nothing installed to look at.
    static bool saysNotInstalled(const QString& output);

    static QString notInstalled();
    static QString unreachablePrefix();
};

} // namespace halvik
