#pragma once

#include "models/Site.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace halvik {
class AppServices;
class SiteTunnelService;
} // namespace halvik

namespace halvik::views {

// "Share…": follows the site's public share while it starts, shows the public address once it
// is connected, or the sentence of what went wrong with a way to retry. Closing the sheet
// keeps the site shared; "Stop Sharing" ends it.
class ShareSheet : public QDialog
{
    Q_OBJECT
public:
    ShareSheet(AppServices& services, SitePtr site, QWidget* parent = nullptr);

    // Shows the site's sheet and starts sharing unless the site is shared or on its way.
    static ShareSheet* open(AppServices& services, const SitePtr& site, QWidget* parent);
    void startSharing();
    void refresh();

    QLabel* statusLabel() const { return m_status; }
    QLineEdit* addressField() const { return m_address; }
    QLabel* errorLabel() const { return m_error; }
    QPushButton* copyButton() const { return m_copy; }
    QPushButton* openButton() const { return m_open; }
    QPushButton* stopButton() const { return m_stop; }
    QPushButton* retryButton() const { return m_retry; }
    QToolButton* detailsToggle() const { return m_detailsToggle; }
    QPlainTextEdit* details() const { return m_details; }

private:
    AppServices& m_services;
    SiteTunnelService& m_tunnels;
    SitePtr m_site;
    QWidget* m_progress;
    QProgressBar* m_busy;
    QLabel* m_status;
    QWidget* m_shared;
    QLineEdit* m_address;
    QPushButton* m_copy;
    QPushButton* m_open;
    QLabel* m_note;
    QLabel* m_error;
    QToolButton* m_detailsToggle;
    QPlainTextEdit* m_details;
    QPushButton* m_retry;
    QPushButton* m_stop;
};

} // namespace halvik::views
