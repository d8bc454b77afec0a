#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace halvik::gitcore {

// Hands a token to one Git invocation without it ever appearing in a command line or in
// .git/config: Git's askpass program is pointed at a small script that answers Git's user-name
// and password questions from two environment variables set for that invocation alone. (Git
// runs with every configured credential helper reset, so the askpass answer is the one used.)
class GitCredentials
{
public:
    static constexpr auto usernameVariable = "HALVIK_GIT_USERNAME";
    static constexpr auto secretVariable = "HALVIK_GIT_SECRET";

    // The askpass script; it holds no secret, only reads the two variables.
    static QByteArray askpassScript();

    // Empty when the URL is not an HTTP(S) URL with a host or there is no secret.
    static QMap<QString, QString> environment(const QString& remoteURL, const QString& username,
                                              const QString& secret, const QString& askpassPath);
};

} // namespace halvik::gitcore
