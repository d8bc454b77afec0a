#pragma once

#include "models/Site.h"

#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QImage>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace halvik {
class AppServices;
}

namespace halvik::views {

// The site's home page as Halvik last saw it, at the top of the Overview: the preview scaled to
// the pane, whether a new one is being taken, why the last attempt failed, and a button that
// takes a new one.
class PreviewBlock : public QWidget
{
    Q_OBJECT
public:
    static constexpr int maxWidth = 480;

    explicit PreviewBlock(AppServices& services, QWidget* parent = nullptr);

    void setSite(SitePtr site);
    // Reads the site's appearance state and URL again.
    void refresh();

    QPushButton* refreshButton() const { return m_refresh; }
    QLabel* statusLabel() const { return m_status; }
    bool isShowingPreview() const { return !m_image.isNull(); }

private:
    class Picture;
    QCoro::Task<> loadImage();
    QSize pictureSize() const;

    AppServices& m_services;
    SitePtr m_site;
    QImage m_image;
    Picture* m_picture;
    QLabel* m_empty;
    QProgressBar* m_busy;
    QLabel* m_status;
    QPushButton* m_refresh;
    int m_loads = 0;
    LifeGuard m_life;
};

} // namespace halvik::views
