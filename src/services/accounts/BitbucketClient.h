#pragma once

#include "GitRemoteRepository.h"

#include <QCoroTask>
#include <QNetworkAccessManager>

#include <optional>

namespace halvik {

// Bitbucket's web API. A token is tried as an API token (Bearer) first and, when a user name
// is given, as an app password (Basic with the user name) after that; later requests use
// whichever worked.
class BitbucketClient
{
public:
    QCoro::Task<QString> authenticatedUser(QString token, std::optional<QString> username = std::nullopt);
    QCoro::Task<GitRemoteRepository> createRepository(QString name, bool isPrivate, QString token,
                                                      std::optional<QString> username = std::nullopt);

    // "My Site" -> "my-site".
    static QString slug(const QString& name);
    // Basic with the user name when there is one, otherwise Bearer.
    static QByteArray authorization(const QString& token, const std::optional<QString>& username);

private:
    struct User
    {
        QString name;
        bool basic = false; // the token only worked as an app password
    };
    QCoro::Task<User> authenticate(QString token, std::optional<QString> username);

    QNetworkAccessManager m_manager;
};

} // namespace halvik
