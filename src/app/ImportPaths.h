#pragma once

#include <QDir>
#include <QString>

namespace halvik {

// A folder path as a person types it: blanks and line breaks trimmed, a leading ~ expanded.
inline QString expandTypedPath(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed == QLatin1String("~"))
        return QDir::homePath();
    if (trimmed.startsWith(QLatin1String("~/")))
        return QDir::homePath() + trimmed.mid(1);
    return trimmed;
}

} // namespace halvik
