#include "views/common/PageCommands.h"

#include <QApplication>
#include <QWidget>

namespace halvik::views {

bool PageCommands::routeToFocusedPage(Command command)
{
    for (QWidget* widget = QApplication::focusWidget(); widget; widget = widget->parentWidget()) {
        // Only pages a person can see answer: a hidden tab keeps its focus child.
        if (auto* page = dynamic_cast<PageCommands*>(widget); page && widget->isVisible())
            if (page->handlePageCommand(command))
                return true;
        if (widget->isWindow())
            break;
    }
    return false;
}

} // namespace halvik::views
