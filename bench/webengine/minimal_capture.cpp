// The least a web engine program can do to capture a page offscreen: load it at 1280×720, wait
// two animation frames, grab at the next paint, write the PNG. The baseline of preview-capture.
//   minimal_capture <url> <out.png>
#include <QApplication>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <unistd.h>

namespace {

class PaintWatch : public QObject
{
public:
    explicit PaintWatch(std::function<void()> painted) : m_painted(std::move(painted)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_painted)
            QTimer::singleShot(0, this, std::exchange(m_painted, {}));
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_painted;
};

} // namespace

int main(int argc, char** argv)
{
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString out = QString::fromLocal8Bit(argv[2]);
    QWebEngineView view;
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.resize(1280, 720);
    view.show();
    PaintWatch watch([&] {
        view.grab().toImage().save(out, "PNG");
        app.quit();
    });
    QObject::connect(view.page(), &QWebEnginePage::titleChanged, &app, [&](const QString& title) {
        if (title != QLatin1String("captured-ready"))
            return;
        view.focusProxy()->installEventFilter(&watch);
        view.focusProxy()->update();
    });
    QObject::connect(view.page(), &QWebEnginePage::loadFinished, &app, [&](bool ok) {
        if (!ok) {
            app.exit(1);
            return;
        }
        view.page()->runJavaScript(QStringLiteral("requestAnimationFrame(() => requestAnimationFrame(() => { "
                                                  "document.title = 'captured-ready'; }));"));
    });
    QTimer::singleShot(20000, &app, [&] { app.exit(1); });
    view.load(QUrl(QString::fromLocal8Bit(argv[1])));
    return app.exec();
}
