#pragma once

namespace halvik::views {

class MainWindow;

// With HALVIK_REPORT_STARTUP set, writes one line to standard error when the window first
// paints ("halvik-startup window-painted") and when it first paints the sites list with the
// store's sites in it ("halvik-startup sites-painted"), so a benchmark can time start-up from
// outside the process. Without the variable it does nothing.
void reportStartupPaints(MainWindow& window);

} // namespace halvik::views
