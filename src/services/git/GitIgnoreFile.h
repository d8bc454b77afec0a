#pragma once

#include <QString>
#include <QStringList>

namespace halvik {

// Keeps a site's `.gitignore` sensible without ever rewriting what the user wrote.
class GitIgnoreFile
{
public:
    static const QStringList& defaultLines();
    // Writes the default file when the folder has none. Throws GitServiceError::failed when
    // the file cannot be written.
    static void ensureGitignore(const QString& folder);
    // Makes sure `.env` is ignored: appends it to an existing file that lacks it.
    static void ensureEnvIgnored(const QString& folder);
};

} // namespace halvik
