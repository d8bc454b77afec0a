#include "gitcore/GitCredentials.h"

#include <QUrl>

namespace halvik::gitcore {

QString GitCredentials::credentialScope(const QString& remoteURL)
{
    const QUrl url(remoteURL.trimmed());
    const QString scheme = url.scheme().toLower();
    if ((scheme != QLatin1String("https") && scheme != QLatin1String("http")) || url.host().isEmpty())
        return {};
    QString scope = scheme + QStringLiteral("://") + url.host().toLower();
    if (url.port() != -1)
        scope += QLatin1Char(':') + QString::number(url.port());
    return scope;
}

QMap<QString, QString> GitCredentials::environment(const QString& remoteURL, const QString& username,
                                                   const QString& secret)
{
    const QString scope = credentialScope(remoteURL);
    if (scope.isEmpty() || secret.isEmpty())
        return {};
    const QString key = QStringLiteral("credential.") + scope + QStringLiteral(".helper");
    // The helper reads both values from its environment when Git asks it to "get"; "store" and
    // "erase" are ignored, so nothing is ever written anywhere.
    const QString helper = QStringLiteral("!f() { test \"$1\" = get || exit 0; "
                                          "printf 'username=%s\\npassword=%s\\n' \"$%1\" \"$%2\"; }; f")
                               .arg(QLatin1String(usernameVariable), QLatin1String(secretVariable));
    QMap<QString, QString> env;
    env.insert(QStringLiteral("GIT_TERMINAL_PROMPT"), QStringLiteral("0"));
    env.insert(QStringLiteral("GIT_ASKPASS"), QStringLiteral("true"));
    env.insert(QStringLiteral("GIT_CONFIG_COUNT"), QStringLiteral("2"));
    env.insert(QStringLiteral("GIT_CONFIG_KEY_0"), key);
    env.insert(QStringLiteral("GIT_CONFIG_VALUE_0"), QString());
    env.insert(QStringLiteral("GIT_CONFIG_KEY_1"), key);
    env.insert(QStringLiteral("GIT_CONFIG_VALUE_1"), helper);
    env.insert(QLatin1String(usernameVariable), username);
    env.insert(QLatin1String(secretVariable), secret);
    return env;
}

} // namespace halvik::gitcore
