#include "gitcore/GitCredentials.h"

#include <QUrl>

namespace halvik::gitcore {

QByteArray GitCredentials::askpassScript()
{
    return QByteArray("#!/bin/sh\n"
                      "# Answers Git's credential questions for one run from its environment.\n"
                      "case \"$1\" in\n"
                      "  Username*) printf '%s\\n' \"$") +
           usernameVariable + "\" ;;\n  *) printf '%s\\n' \"$" + secretVariable + "\" ;;\nesac\n";
}

QMap<QString, QString> GitCredentials::environment(const QString& remoteURL, const QString& username,
                                                   const QString& secret, const QString& askpassPath)
{
    const QUrl url(remoteURL.trimmed());
    const QString scheme = url.scheme().toLower();
    if ((scheme != QLatin1String("https") && scheme != QLatin1String("http")) || url.host().isEmpty() ||
        secret.isEmpty())
        return {};
    QMap<QString, QString> env;
    env.insert(QStringLiteral("GIT_TERMINAL_PROMPT"), QStringLiteral("0"));
    env.insert(QStringLiteral("GIT_ASKPASS"), askpassPath);
    env.insert(QLatin1String(usernameVariable), username);
    env.insert(QLatin1String(secretVariable), secret);
    return env;
}

} // namespace halvik::gitcore
