#pragma once

#include "models/Site.h"

#include <QFormLayout>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace halvik {
class AppServices;
class ViteDevServer;
} // namespace halvik

namespace halvik::views {

class LiveLogView;

// The Overview's "Frontend" rows: the site's bundler and dev script, its dev server's state and
// address, what can be done about it, and the server's live log behind a disclosure.
class FrontendSection : public QWidget
{
    Q_OBJECT
public:
    explicit FrontendSection(AppServices& services, QWidget* parent = nullptr);

    // The rows, so the Overview can line their labels up with its other sections.
    QFormLayout* form() const { return m_form; }
    void setSite(SitePtr site);
    void refresh();

    QLabel* stateLabel() const { return m_state; }
    QLabel* reasonLabel() const { return m_reason; }
    QLabel* urlLabel() const { return m_url; }
    QPushButton* startStopButton() const { return m_startStop; }
    QPushButton* openButton() const { return m_open; }
    QPushButton* installButton() const { return m_install; }
    QPushButton* installNodeButton() const { return m_installNode; }
    QToolButton* logToggle() const { return m_logToggle; }
    LiveLogView* log() const { return m_log; }

private:
    void startOrStop();
    void showLog(bool shown);

    AppServices& m_services;
    ViteDevServer& m_dev;
    SitePtr m_site;
    QFormLayout* m_form;
    QLabel* m_reason;
    QLabel* m_bundler;
    QLabel* m_script;
    QWidget* m_stateRow;
    QProgressBar* m_busy;
    QLabel* m_state;
    QLabel* m_url;
    QPushButton* m_startStop;
    QPushButton* m_open;
    QPushButton* m_install;
    QPushButton* m_installNode;
    QToolButton* m_logToggle;
    LiveLogView* m_log;
};

} // namespace halvik::views
