#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QWebEngineProfile;
class QWebEngineView;
class QWidget;

namespace halvik::snapshot {

// One page or SVG rendered off-screen, finished exactly once: with an image, or with the
// reason there is none.
class SnapshotSession : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(std::optional<QImage>, QString error)>;

    SnapshotSession(QWebEngineProfile& profile, QSize size, Done done, QObject* parent = nullptr);
    ~SnapshotSession() override;

    void loadPage(const QUrl& url);
    void loadSVG(const QByteArray& svg);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loaded(bool ok, const QString& error);
    void settled();
    void waitForPaint(int limitMs);
    void grabNow();
    void finish(std::optional<QImage> image, const QString& error);

    QSize m_size;
    Done m_done;
    std::unique_ptr<QWebEngineView> m_view;
    QPointer<QWidget> m_renderWidget;
    QString m_readyTitle;
    QTimer m_requestLimit; // the page must load within 15 s
    QTimer m_watchdog;     // and the whole capture end within 20 s
    QTimer m_paintLimit;
    QTimer m_flatLimit; // how long a flat page is looked at again before it counts as flat
    bool m_waitingForPaint = false;
    bool m_secondLook = false;
    bool m_finished = false;
    bool m_svg = false;
};

} // namespace halvik::snapshot
