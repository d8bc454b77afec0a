#pragma once

#include <QString>

namespace halvik::PlatformTexts {

// Words that name a macOS thing, with their Linux counterpart.
inline QString showInFileManager()
{
#ifdef Q_OS_MACOS
    return QStringLiteral("Show in Finder");
#else
    return QStringLiteral("Show in File Manager");
#endif
}

inline QString thisComputer()
{
#ifdef Q_OS_MACOS
    return QStringLiteral("this Mac");
#else
    return QStringLiteral("this computer");
#endif
}

} // namespace halvik::PlatformTexts
