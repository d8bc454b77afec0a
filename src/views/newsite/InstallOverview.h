#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace halvik {
class AppServices;
class InstallJob;
} // namespace halvik

namespace halvik::views {

class LiveLogView;

// One installation as it runs and after: the step, a bar with Composer's package count, the
// live log and Cancel; a failure with its details, log and advice; then the kit's
// instructions and "Open Site".
class InstallOverview : public QWidget
{
    Q_OBJECT
public:
    InstallOverview(AppServices& services, InstallJob& job, QWidget* parent = nullptr);

    QLabel* stepLabel() const { return m_step; }
    QProgressBar* bar() const { return m_bar; }
    QLabel* packagesLabel() const { return m_packages; }
    QLabel* resultLabel() const { return m_result; }
    QLabel* adviceLabel() const { return m_advice; }
    QLabel* instructionsLabel() const { return m_instructions; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* openButton() const { return m_open; }
    QPushButton* detailsButton() const { return m_details; }
    LiveLogView* logView() const { return m_log; }

Q_SIGNALS:
    void closeRequested();

private:
    void refresh();

    AppServices& m_services;
    QPointer<InstallJob> m_job;
    QLabel* m_step;
    QProgressBar* m_bar;
    QLabel* m_packages;
    QLabel* m_result;
    QLabel* m_advice;
    QLabel* m_instructions;
    LiveLogView* m_log;
    QPushButton* m_cancel;
    QPushButton* m_details;
    QPushButton* m_copyLog;
    QPushButton* m_copyErrors;
    QPushButton* m_open;
    QPushButton* m_close;
};

} // namespace halvik::views
