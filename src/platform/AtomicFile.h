#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

namespace halvik {

// Writes `bytes` to `path` through a temporary file in the same folder that is then renamed
// over the target, so a reader never sees half a file. Creates missing folders. Returns an
// error text, or nothing on success. `permissions`, when given, are set on the file before
// the rename, so the content is never visible with wider permissions.
std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes,
                                           std::optional<QFileDevice::Permissions> permissions = {});

} // namespace halvik
