#pragma once

#include <QString>
#include <QStringList>

namespace halvik {

// An installed application as the freedesktop `.desktop` format describes it.
namespace DesktopEntry {

bool isDesktopFile(const QString& path);
// The [Desktop Entry] group's Name, or empty.
QString name(const QString& desktopFile);
// The Exec line split into a program and its arguments, the file-or-URL field codes replaced
// by `target` (appended when the line has none) and the other field codes dropped.
QStringList commandLine(const QString& desktopFile, const QString& target);

// The name people know an application by: a desktop entry's Name, a bundle's name without
// `.app`, otherwise the file name.
QString applicationName(const QString& path);

// Starts an editor on a folder, detached: an executable directly, a desktop entry through
// its Exec line, a macOS bundle through `open -a`.
bool launch(const QString& editor, const QString& folder);

} // namespace DesktopEntry

} // namespace halvik
