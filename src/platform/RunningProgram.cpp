#include "RunningProgram.h"

#include <QFile>
#include <QFileInfo>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

namespace halvik {

QString runningProgramPath()
{
#ifdef __APPLE__
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    QByteArray path(qsizetype(size), '\0');
    if (_NSGetExecutablePath(path.data(), &size) != 0)
        return {};
    return QFileInfo(QFile::decodeName(path.constData())).canonicalFilePath();
#else
    return QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
#endif
}

} // namespace halvik
