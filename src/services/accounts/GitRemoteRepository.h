#pragma once

#include <QString>

namespace halvik {

// A repository just created on a provider.
struct GitRemoteRepository
{
    QString name;
    QString fullName; // owner and name joined by "/"
    QString cloneURL; // HTTPS
    QString htmlURL;

    bool operator==(const GitRemoteRepository&) const = default;
};

// A device sign-in started on GitHub.
struct GitHubDeviceCode
{
    QString deviceCode;
    QString userCode;
    QString verificationURI;
    int interval = 5;
    int expiresIn = 900;
};

} // namespace halvik
