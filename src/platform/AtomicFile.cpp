#include "AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace halvik {

std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes,
                                           std::optional<QFileDevice::Permissions> permissions)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("Couldn’t create the folder %1.").arg(folder);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (permissions && !file.setPermissions(*permissions)) {
        file.cancelWriting();
        return file.errorString();
    }
    // The write is buffered: only flushing shows whether the disk took it all. Committing a
    // short write would replace the old file with a truncated one.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

} // namespace halvik
