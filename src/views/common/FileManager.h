#pragma once

#include <QString>

namespace halvik::views {

// Shows a file or folder in the desktop's file manager with it selected (the freedesktop
// FileManager1 interface); where no file manager answers on the session bus, opens the folder.
void showInFileManager(const QString& path);

} // namespace halvik::views
