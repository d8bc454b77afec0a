#pragma once

#include "GitRemoteRepository.h"

#include <QCoroTask>
#include <QNetworkAccessManager>

namespace halvik {

// GitLab's web API (version 4) under the configured GitLab root.
class GitLabClient
{
public:
    QCoro::Task<QString> authenticatedUser(QString token);
    QCoro::Task<GitRemoteRepository> createRepository(QString name, bool isPrivate, QString token);

private:
    QNetworkAccessManager m_manager;
};

} // namespace halvik
