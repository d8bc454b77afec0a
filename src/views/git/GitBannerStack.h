#pragma once

#include "async/LifeGuard.h"
#include "models/Enums.h"

#include <QPushButton>
#include <QWidget>

#include <functional>

namespace halvik {
class GitWorkspace;
class UserPrompts;
} // namespace halvik

namespace halvik::views {

class GitBanner;
class GitIdentityBanner;
class GitNoticeBanner;
class GitRebaseBanner;

// A small rounded button that tells how many change sets are set aside and opens them.
class GitStashChip : public QPushButton
{
    Q_OBJECT
public:
    explicit GitStashChip(QWidget* parent = nullptr);
    void setCount(int count);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The banners above the lists, top to bottom: identity, tracked .env, interrupted rebase,
// origin, set-aside chip, the last operation's notice and a refused branch switch. Each shows
// only while its condition holds.
class GitBannerStack : public QWidget
{
    Q_OBJECT
public:
    // `provider` names the connected source-control provider the origin banner offers.
    GitBannerStack(GitWorkspace& workspace, UserPrompts& prompts,
                   std::function<SourceControlProvider()> provider, QWidget* parent = nullptr);

    GitIdentityBanner* identityBanner() const { return m_identity; }
    GitNoticeBanner* envBanner() const { return m_env; }
    GitRebaseBanner* rebaseBanner() const { return m_rebase; }
    GitBanner* originBanner() const { return m_origin; }
    GitStashChip* stashChip() const { return m_stash; }
    GitNoticeBanner* noticeBanner() const { return m_notice; }
    GitNoticeBanner* dirtySwitchBanner() const { return m_dirty; }

    // Re-reads every condition; called on each change of the workspace.
    void sync();

private:
    void syncIdentity();
    void syncRebase();
    void syncNotice();
    void continueConflict();
    QCoro::Task<> abortConflict();
    QCoro::Task<> markAllResolved();

    GitWorkspace& m_workspace;
    UserPrompts& m_prompts;
    std::function<SourceControlProvider()> m_provider;
    GitIdentityBanner* m_identity;
    GitNoticeBanner* m_env;
    QPushButton* m_stopTracking;
    GitRebaseBanner* m_rebase;
    QPushButton* m_continue;
    QPushButton* m_abort;
    GitBanner* m_origin;
    QPushButton* m_createRepo;
    GitStashChip* m_stash;
    GitNoticeBanner* m_notice;
    GitNoticeBanner* m_dirty;
    QPushButton* m_setAside;
    LifeGuard m_life;
};

} // namespace halvik::views
