#pragma once

#include <QString>

namespace halvik::gitcore {

// Where the source-control providers live. Every host is a configuration value with the public
// default, read from the environment on every call so tests and the command line can point it
// elsewhere (a local server counts as the provider for remote URLs and credentials alike):
//   HALVIK_GITHUB_WEB          GitHub's web root, also its Git host (default https://github.com)
//   HALVIK_GITHUB_API          GitHub's API root (default https://api.github.com)
//   HALVIK_GITLAB_URL          GitLab's root, web, Git and API (default https://gitlab.com)
//   HALVIK_BITBUCKET_WEB       Bitbucket's web root, also its Git host (default https://bitbucket.org)
//   HALVIK_BITBUCKET_API       Bitbucket's API root (default https://api.bitbucket.org)
//   HALVIK_ORIGIN_HOST         the Origin Git host (default origin.cursor.com)
//   HALVIK_CURSOR_WEB_ROOT     Cursor's web root (default https://cursor.com)
//   HALVIK_ORIGIN_INSTALL_URL  the Origin CLI's install script
// Host names are lower-cased, with ":port" when the root names one; roots never end in "/".
class GitHosts
{
public:
    static QString githubHost();
    static QString githubWebRoot();
    static QString githubAPIRoot();
    static QString gitlabHost();
    static QString gitlabWebRoot();
    static QString bitbucketHost();
    static QString bitbucketWebRoot();
    static QString bitbucketAPIRoot();
    static QString originGitHost();
    // "https://" + originGitHost(), where Origin repositories are cloned from.
    static QString originWebRoot();
    static QString originInstallScriptURL();
    static QString cursorWebRoot();
    // The host of cursorWebRoot(), lower-cased, with ":port" when the root names one.
    static QString cursorWebDomain();

    // The host of a root URL as above; `fallback` when the root names none.
    static QString hostOf(const QString& root, const QString& fallback);
};

} // namespace halvik::gitcore
