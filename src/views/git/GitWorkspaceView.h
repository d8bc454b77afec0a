#pragma once

#include "models/Site.h"
#include "views/common/PageCommands.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class QStackedLayout;
class QStackedWidget;

namespace halvik {
class AppServices;
class GitWorkspace;
} // namespace halvik

namespace halvik::views {

class GitBannerStack;
class GitChangesList;
class GitCompactStack;
class GitComposer;
class GitDiffPane;
class GitHistoryDetail;
class GitHistoryList;
class GitListTabBar;
class GitRegularSplit;
class GitRepoBar;
class GitSheetPresenter;
class GitUnavailableView;

// The site detail's Git tab. It keeps one workspace for the site it shows, started while the
// tab is on screen and stopped when it is hidden or the site changes, and shows one of four
// states: checking, a problem with Git, a folder that is not a repository, or the repository
// with its bar, banners, lists and detail.
class GitWorkspaceView : public QWidget, public PageCommands
{
    Q_OBJECT
public:
    // F5 refreshes the repository; Ctrl+F goes to the list's filter.
    bool handlePageCommand(Command command) override;
    enum class State
    {
        checking,
        problem,
        notRepository,
        repository
    };
    // Narrower than this, the list and the detail take turns instead of sitting side by side.
    static constexpr int compactWidth = 600;

    explicit GitWorkspaceView(AppServices& services, QWidget* parent = nullptr);
    ~GitWorkspaceView() override;

    void setSite(SitePtr site);
    const SitePtr& site() const { return m_site; }
    // Null until the tab has been on screen for the current site.
    GitWorkspace* workspace() const { return m_workspace.get(); }
    State state() const;
    bool isCompact() const;

    // The parts, for the window's keyboard handling and for tests; null without a site.
    QLabel* checkingLabel() const { return m_checking; }
    GitUnavailableView* unavailableView() const { return m_unavailable; }
    QLabel* notRepositoryLabel() const { return m_notRepoText; }
    QPushButton* initializeButton() const { return m_initialize; }
    GitRepoBar* repoBar() const { return m_bar; }
    GitBannerStack* banners() const { return m_banners; }
    GitListTabBar* tabBar() const { return m_tabs; }
    GitRegularSplit* split() const { return m_split; }
    GitCompactStack* compactStack() const { return m_compact; }
    GitChangesList* changesList() const { return m_changes; }
    GitComposer* composer() const { return m_composer; }
    GitHistoryList* historyList() const { return m_history; }
    GitHistoryDetail* historyDetail() const { return m_historyDetail; }
    GitDiffPane* diffPane() const { return m_diff; }
    GitSheetPresenter* sheets() const { return m_sheets; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void build();
    void teardown();
    QWidget* buildRepositoryPage(QWidget* parent);
    void addShortcuts();
    void showState();
    void showTab();
    void applyLayout();
    void syncNotRepository();

    AppServices& m_services;
    SitePtr m_site;
    std::unique_ptr<GitWorkspace> m_workspace;
    QStackedLayout* m_outer;
    QLabel* m_noSite;
    QPointer<QWidget> m_body;
    QStackedLayout* m_pages = nullptr;
    QWidget* m_checkingPage = nullptr;
    QLabel* m_checking = nullptr;
    GitUnavailableView* m_unavailable = nullptr;
    QWidget* m_notRepoPage = nullptr;
    QLabel* m_notRepoText = nullptr;
    QLabel* m_notRepoNotice = nullptr;
    QPushButton* m_initialize = nullptr;
    QWidget* m_repoPage = nullptr;
    GitRepoBar* m_bar = nullptr;
    GitBannerStack* m_banners = nullptr;
    GitListTabBar* m_tabs = nullptr;
    QStackedWidget* m_layouts = nullptr;
    GitRegularSplit* m_split = nullptr;
    GitCompactStack* m_compact = nullptr;
    QWidget* m_master = nullptr;
    QWidget* m_detail = nullptr;
    QStackedWidget* m_masterPages = nullptr;
    QStackedWidget* m_detailPages = nullptr;
    GitChangesList* m_changes = nullptr;
    GitComposer* m_composer = nullptr;
    GitHistoryList* m_history = nullptr;
    GitHistoryDetail* m_historyDetail = nullptr;
    GitDiffPane* m_diff = nullptr;
    GitSheetPresenter* m_sheets = nullptr;
};

} // namespace halvik::views
