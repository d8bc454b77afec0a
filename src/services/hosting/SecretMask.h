#pragma once

#include <QString>

namespace halvik {

// `text` with every occurrence of `secret` replaced by "••••••".
inline QString maskSecret(QString text, const QString& secret)
{
    if (secret.isEmpty())
        return text;
    return text.replace(secret, QStringLiteral("••••••"));
}

} // namespace halvik
