#pragma once

namespace halvik::views {

// A page that answers the window's Find (Ctrl+F) and Refresh (F5) itself while the focus is
// inside it. Qt fires neither of two shortcuts bound to one key in the same context, so pages
// never bind those keys: the window's actions ask the focused widget's pages, innermost first,
// and act themselves when none answers.
class PageCommands
{
public:
    enum class Command
    {
        find,
        refresh
    };

    virtual ~PageCommands() = default;
    // True when the page handled the command.
    virtual bool handlePageCommand(Command command) = 0;

    // Offers the command to the pages around the focused widget; true when one handled it.
    static bool routeToFocusedPage(Command command);
};

} // namespace halvik::views
