#pragma once

#include <QString>

#include <optional>

namespace halvik {

// Moves a file or folder to the desktop's trash (the freedesktop trash on Linux); returns the
// reason when it could not.
std::optional<QString> moveToTrash(const QString& path);

} // namespace halvik
