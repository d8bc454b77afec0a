#pragma once

namespace halvik {

class AppServices;

namespace views {

class MainWindow;

// Puts the two import sheets behind the window's File menu commands and the Sites toolbar's
// "Import Existing" and "Import All" buttons.
void installImportActions(MainWindow& window, AppServices& services);

} // namespace views
} // namespace halvik
