#include "views/window/StartupReport.h"

#include "views/sites/SitesPage.h"
#include "views/window/MainWindow.h"

#include <QEvent>
#include <QListView>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace halvik::views {

namespace {

// Announces, after the paint has finished, the first paint of `watched` that `ready` accepts.
class PaintReporter : public QObject
{
public:
    PaintReporter(QWidget* watched, const char* line, std::function<bool()> ready)
        : QObject(watched), m_line(line), m_ready(std::move(ready))
    {
        watched->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_ready()) {
            watched->removeEventFilter(this);
            // The paint runs once this filter returns; the line goes out right after it.
            QTimer::singleShot(0, this, [this] {
                std::fprintf(stderr, "halvik-startup %s\n", m_line);
                std::fflush(stderr);
                deleteLater();
            });
        }
        return false;
    }

private:
    const char* m_line;
    std::function<bool()> m_ready;
};

} // namespace

void reportStartupPaints(MainWindow& window)
{
    if (!qEnvironmentVariableIsSet("HALVIK_REPORT_STARTUP"))
        return;
    new PaintReporter(&window, "window-painted", [] { return true; });
    QListView* list = window.sitesPage()->list();
    new PaintReporter(list->viewport(), "sites-painted", [list] { return list->model()->rowCount() > 0; });
}

} // namespace halvik::views
