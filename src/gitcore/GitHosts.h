#pragma once

#include <QString>

namespace halvik::gitcore {

// Where the source-control providers live. GitHub, GitLab and Bitbucket are their public hosts;
// the Cursor Origin Git host and Cursor's web root are configuration values, read from the
// environment on every call so tests and the command line can point them elsewhere:
//   HALVIK_ORIGIN_HOST       the Origin Git host (default origin.cursor.com)
//   HALVIK_CURSOR_WEB_ROOT   Cursor's web root (default https://cursor.com)
// Host names are returned lower-cased; web roots never end in "/".
class GitHosts
{
public:
    static QString githubHost();
    static QString githubWebRoot();
    static QString gitlabHost();
    static QString gitlabWebRoot();
    static QString bitbucketHost();
    static QString bitbucketWebRoot();
    static QString originGitHost();
    static QString cursorWebRoot();
    // The host of cursorWebRoot(), lower-cased, with ":port" when the root names one.
    static QString cursorWebDomain();
};

} // namespace halvik::gitcore
