#include "MainApplication.h"

#include <QApplication>
#include <QMainWindow>

namespace halvik::views {

int runWindowApplication(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(1180, 760);
    window.show();
    return app.exec();
}

} // namespace halvik::views
