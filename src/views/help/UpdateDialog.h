#pragma once

#include "async/LifeGuard.h"
#include "services/updates/UpdateChecker.h"

#include <QCoroTask>
#include <QDialog>

#include <functional>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace halvik::views {

// "Check for Updates…": asks the release feed, then says "Halvik x.y.z is available." with
// "Download", "Halvik is up to date.", or the one sentence that says why it could not tell.
class UpdateDialog : public QDialog
{
    Q_OBJECT
public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    explicit UpdateDialog(QWidget* parent = nullptr);

    // Looks at the feed now, showing that it does.
    QCoro::Task<> check();
    // Shows what a check found without asking again (the weekly check found a release).
    void showResult(const UpdateCheckResult& result);
    // Where "Download" opens the release's page; the desktop's browser by default.
    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }

    QLabel* headline() const { return m_headline; }
    QLabel* details() const { return m_details; }
    QPushButton* downloadButton() const { return m_download; }
    bool isChecking() const { return m_checking; }

Q_SIGNALS:
    // A check ended, whatever it found.
    void checkFinished();

protected:
    void changeEvent(QEvent* event) override;

private:
    void showChecking();
    void colourDetails();
    void showFailure(const QString& sentence);

    QLabel* m_headline;
    QLabel* m_details;
    QProgressBar* m_busy;
    QPushButton* m_download;
    QPushButton* m_close;
    std::optional<QUrl> m_releasePage;
    UrlOpener m_openUrl;
    bool m_checking = false;
    bool m_failed = false;
    LifeGuard m_life;
};

} // namespace halvik::views
