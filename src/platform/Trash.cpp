#include "Trash.h"

#include <QFile>

namespace halvik {

std::optional<QString> moveToTrash(const QString& path)
{
    QFile item(path);
    if (item.moveToTrash())
        return std::nullopt;
    const QString reason = item.errorString();
    return reason.isEmpty() ? QStringLiteral("The folder couldn’t be moved to the Trash.") : reason;
}

} // namespace halvik
