#include "views/window/WindowMemory.h"

#include "models/AppPreferences.h"

#include <QEvent>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

namespace halvik::views {

namespace {

// Saves the geometry a moment after the last move or resize (a drag sends hundreds) and when
// the window closes; a quit by signal closes no window, so the debounce is what keeps it then.
class GeometryKeeper : public QObject
{
public:
    GeometryKeeper(QWidget* window, AppPreferences& preferences, QString key)
        : QObject(window), m_window(window), m_preferences(preferences), m_key(std::move(key))
    {
        m_save.setSingleShot(true);
        m_save.setInterval(400);
        connect(&m_save, &QTimer::timeout, this, &GeometryKeeper::save);
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window) {
            switch (event->type()) {
            case QEvent::Move:
            case QEvent::Resize:
                if (m_window->isVisible())
                    m_save.start();
                break;
            case QEvent::Close:
                save();
                break;
            default:
                break;
            }
        }
        return false;
    }

private:
    void save()
    {
        m_save.stop();
        m_preferences.setWindowState(m_key, m_window->saveGeometry());
    }

    QWidget* m_window;
    AppPreferences& m_preferences;
    QString m_key;
    QTimer m_save;
};

} // namespace

void rememberGeometry(QWidget* window, AppPreferences& preferences, const QString& key)
{
    const QByteArray saved = preferences.windowState(key).toByteArray();
    if (!saved.isEmpty())
        window->restoreGeometry(saved);
    new GeometryKeeper(window, preferences, key);
}

void rememberSplitter(QSplitter* splitter, AppPreferences& preferences, const QString& key)
{
    const QByteArray saved = preferences.windowState(key).toByteArray();
    if (!saved.isEmpty())
        splitter->restoreState(saved);
    QObject::connect(splitter, &QSplitter::splitterMoved, splitter, [splitter, &preferences, key] {
        preferences.setWindowState(key, splitter->saveState());
    });
}

void rememberCurrentTab(QTabWidget* tabs, AppPreferences& preferences, const QString& key)
{
    bool ok = false;
    const int saved = preferences.windowState(key).toInt(&ok);
    if (ok && saved >= 0 && saved < tabs->count() && tabs->isTabEnabled(saved))
        tabs->setCurrentIndex(saved);
    QObject::connect(tabs, &QTabWidget::currentChanged, tabs,
                     [&preferences, key](int index) { preferences.setWindowState(key, index); });
}

} // namespace halvik::views
