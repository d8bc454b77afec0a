#include "PlaceholderPage.h"

#include <QStackedWidget>

namespace halvik::views {

void replacePlaceholder(QStackedWidget* stack, int index, QWidget* page)
{
    QWidget* placeholder = stack->widget(index);
    stack->insertWidget(index, page);
    stack->removeWidget(placeholder);
    delete placeholder;
}

} // namespace halvik::views
