#pragma once

#include <QString>

class QSplitter;
class QTabWidget;
class QWidget;

namespace halvik {
class AppPreferences;
}

namespace halvik::views {

// Puts a window back where it was and keeps its size and position as they change.
void rememberGeometry(QWidget* window, AppPreferences& preferences, const QString& key);
// Restores a splitter's widths and keeps them whenever its handle moves.
void rememberSplitter(QSplitter* splitter, AppPreferences& preferences, const QString& key);
// Shows the tab shown last time and keeps the choice.
void rememberCurrentTab(QTabWidget* tabs, AppPreferences& preferences, const QString& key);

} // namespace halvik::views
