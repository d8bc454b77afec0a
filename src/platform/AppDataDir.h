#pragma once

#include <QString>

namespace halvik {

// Where Halvik keeps its own files: $XDG_DATA_HOME/Halvik on Linux,
// ~/Library/Application Support/Halvik on macOS.
namespace AppDataDir {

// The application folder. If it does not exist yet and a `Dunmoral` folder (the older name)
// sits beside it, that folder is renamed first; a failed rename is ignored. The folder itself
// is created by whoever writes into it.
QString directory();

// The folder that holds the application folder (the platform's per-user data folder).
QString parentDirectory();

// Where running processes leave notes for each other: $XDG_RUNTIME_DIR/halvik when the
// desktop provides one, else <application folder>/run. Not created here.
QString runtimeDirectory();

} // namespace AppDataDir

} // namespace halvik
