#pragma once

class QStackedWidget;
class QWidget;

namespace halvik::views {

// Puts `page` where the placeholder at `index` of `stack` stood and deletes the placeholder: for
// pages built the first time they are shown, so a window's first frame waits only for its own.
void replacePlaceholder(QStackedWidget* stack, int index, QWidget* page);

} // namespace halvik::views
