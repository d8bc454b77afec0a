#pragma once

#include <QMap>
#include <QString>

namespace halvik::gitcore {

// Hands a token to one Git invocation without it ever appearing in a command line or in
// .git/config: Git is given, through its environment, a credential helper for exactly the
// remote's scheme and host that prints the user name and token it finds in two environment
// variables. Helpers configured elsewhere are reset for that host, and Git never prompts.
class GitCredentials
{
public:
    static constexpr auto usernameVariable = "HALVIK_GIT_USERNAME";
    static constexpr auto secretVariable = "HALVIK_GIT_SECRET";

    // Empty when the URL is not an HTTP(S) URL with a host.
    static QMap<QString, QString> environment(const QString& remoteURL, const QString& username,
                                              const QString& secret);
    // "<scheme>://<host[:port]>" of an HTTP(S) remote, or empty.
    static QString credentialScope(const QString& remoteURL);
};

} // namespace halvik::gitcore
