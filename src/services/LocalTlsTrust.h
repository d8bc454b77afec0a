#pragma once

#include <QList>
#include <QSslError>
#include <QString>

class QNetworkReply;

namespace halvik {

// Lets requests reach local development sites served with self-signed certificates. Only
// hosts that can only be local get that trust; every other host keeps the normal checks.
class LocalTlsTrust
{
public:
    // Lower-cased: ends in ".test", is "localhost", starts with "127." or is "::1".
    static bool isLocalHost(const QString& host);

    // Installs the policy on a reply before it finishes.
    static void attach(QNetworkReply* reply);
};

} // namespace halvik
