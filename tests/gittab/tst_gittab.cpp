#include "GitTabFixture.h"
#include "TestMain.h"

#include "views/accounts/ConnectSheet.h"
#include "views/accounts/CreateRepositorySheet.h"
#include "views/git/GitBannerStack.h"
#include "views/git/GitBanners.h"
#include "views/git/GitChangesModel.h"
#include "views/git/GitCompactStack.h"
#include "views/git/GitComposer.h"
#include "views/git/GitDiffModel.h"
#include "views/git/GitDiffPane.h"
#include "views/git/GitDiffScroll.h"
#include "views/git/GitHistoryDetail.h"
#include "views/git/GitHistoryList.h"
#include "views/git/GitHistoryModel.h"
#include "views/git/GitHunkHeader.h"
#include "views/git/GitListTabBar.h"
#include "views/git/GitRegularSplit.h"
#include "views/git/GitRepoBar.h"
#include "views/git/GitRepositorySheet.h"
#include "views/git/GitSheetPresenter.h"
#include "views/git/GitUnavailableView.h"

#include "WaitFor.h"

#include <QComboBox>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

using namespace halvik;
using namespace halvik::gitcore;
using namespace halvik::views;
using halvik::test::GitTab;

namespace {

QStringList actionTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions())
        if (!action->isSeparator())
            texts << action->text();
    return texts;
}

QAction* actionNamed(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

int rowOf(QListView* view, const QString& path)
{
    for (int row = 0; row < view->model()->rowCount(); ++row)
        if (view->model()->index(row, 0).data(GitChangesModel::PathRole).toString() == path)
            return row;
    return -1;
}

// A repository whose pull stops on a conflict in a.txt: the remote moved the line one way,
// the local branch another.
QString conflictingPull(const GitTab& t)
{
    const QString repo = t.box.makeRepo("site", {{"a.txt", "one\n"}});
    const QString remote = t.box.makeRemoteFor(repo, "remote.git");
    const QString other = t.box.clone(remote, "other");
    t.box.write(other, "a.txt", "theirs\n");
    t.box.commitAll(other, "Theirs");
    t.box.git(other, {"push", "-q", "origin", "main"});
    t.box.write(repo, "a.txt", "ours\n");
    t.box.commitAll(repo, "Ours");
    return repo;
}

} // namespace

class GitTabTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void siteDetailOffersTheGitTab()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site");
        GitWorkspaceView* view = t.open(repo);
        QTabWidget* tabs = t.pane()->tabs();
        QCOMPARE(tabs->tabText(2), QString("Git"));
        QVERIFY(tabs->isTabEnabled(2));
        QVERIFY(tabs->tabToolTip(2).isEmpty());
        QCOMPARE(view->state(), GitWorkspaceView::State::repository);
    }

    void startsWhenShownStopsWhenHiddenOrTheSiteChanges()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site");
        GitWorkspaceView* view = t.open(repo);
        GitWorkspace* first = view->workspace();
        QVERIFY(first->isStarted());
        QVERIFY(first->monitor());

        t.pane()->tabs()->setCurrentIndex(0);
        QVERIFY(!first->isStarted());
        QVERIFY(!first->monitor());
        t.pane()->tabs()->setCurrentIndex(2);
        QVERIFY(first->isStarted());
        QVERIFY(t.settle());

        // Another site gets a workspace of its own, started because the tab is on screen.
        const QString otherRepo = t.box.makeRepo("blog");
        auto other = t.addSite("Blog", otherRepo);
        t.window.sitesPage()->selectSite(other->id());
        QCOMPARE(view->site(), other);
        QVERIFY(view->workspace()->site() == other);
        QVERIFY(view->workspace()->isStarted());
        QTRY_VERIFY_WITH_TIMEOUT(view->workspace()->hasRefreshed(), 30000);
        QVERIFY(t.settle());

        // No site at all: nothing runs, and the tab survives being resized.
        GitWorkspace* before = view->workspace();
        QVERIFY(t.settle());
        QSignalSpy gone(before, &QObject::destroyed);
        view->setSite(nullptr);
        QCOMPARE(gone.size(), 1);
        QVERIFY(!view->workspace());
        QVERIFY(!view->changesList());
        t.window.resize(900, 700);
        t.window.resize(1300, 800);
        QCoreApplication::processEvents();
        view->setSite(other);
        QVERIFY(view->workspace()->isStarted());
        QTRY_VERIFY_WITH_TIMEOUT(view->workspace()->hasRefreshed(), 30000);
        QVERIFY(t.settle());

        // A site chosen while the tab is hidden waits until the tab is shown.
        t.pane()->tabs()->setCurrentIndex(0);
        t.window.sitesPage()->selectSite(t.site->id());
        QCOMPARE(view->site(), t.site);
        QVERIFY(!view->workspace()); // nothing is built for a tab nobody looks at
        t.pane()->tabs()->setCurrentIndex(2);
        QVERIFY(view->workspace()->isStarted());
        QVERIFY(t.settle());
    }

    void checkingThenNotARepositoryThenInitialized()
    {
        GitTab t;
        const QString folder = t.box.path("plain");
        QDir().mkpath(folder);
        t.box.write(folder, "index.php", "<?php echo 1;\n");
        t.site = t.addSite("Plain", folder);
        t.window.resize(1280, 800);
        t.window.show();
        t.window.sitesPage()->selectSite(t.site->id());
        t.pane()->tabs()->setCurrentIndex(2);
        GitWorkspaceView* view = t.pane()->git();
        t.views.append(view);
        // Before the first refresh ends, the tab says it is checking.
        QCOMPARE(view->state(), GitWorkspaceView::State::checking);
        QVERIFY(view->checkingLabel()->isVisible());
        QCOMPARE(view->checkingLabel()->text(), QString("Checking Git\u2026"));
        t.shoot(view, "git-checking");

        QTRY_COMPARE_WITH_TIMEOUT(view->state(), GitWorkspaceView::State::notRepository, 30000);
        QVERIFY(view->notRepositoryLabel()->isVisible());
        QCOMPARE(view->notRepositoryLabel()->text(),
                 QString("Git tracks every change to every file in your site."));
        QCOMPARE(view->initializeButton()->text(), QString("Initialize Git"));
        QVERIFY(!view->repoBar()->isVisible());
        t.shoot(view, "git-not-repository");

        view->initializeButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(view->state(), GitWorkspaceView::State::repository, 30000);
        QVERIFY(t.settle());
        QCOMPARE(t.git(folder, {"log", "-1", "--format=%s"}).trimmed(),
                 QString("Initial commit from Halvik"));
        QCOMPARE(view->repoBar()->statusLabel()->text(), QString("Clean"));
        QVERIFY(view->repoBar()->isVisible());
    }

    void aBrokenRepositoryShowsTheProblemAndRetries()
    {
        GitTab t;
        const QString folder = t.box.path("broken");
        QDir().mkpath(folder);
        // A .git file pointing nowhere: Git finds metadata it cannot use.
        t.box.write(folder, ".git", "gitdir: " + t.box.path("gone").toUtf8() + "\n");
        GitWorkspaceView* view = t.open(folder);
        QCOMPARE(view->state(), GitWorkspaceView::State::problem);
        GitUnavailableView* problem = view->unavailableView();
        QVERIFY(problem->isVisible());
        const auto& snapshotProblem = *view->workspace()->snapshot().status.problem;
        QCOMPARE(problem->titleLabel()->text(), snapshotProblem.title());
        QCOMPARE(problem->messageLabel()->text(), snapshotProblem.message());
        QCOMPARE(problem->detailsToggle()->text(), QString("Error details"));
        QVERIFY(!problem->detailsText()->isVisible());
        problem->detailsToggle()->click();
        QVERIFY(problem->detailsText()->isVisible());
        QVERIFY(problem->detailsText()->toPlainText().contains("gone"));
        QCOMPARE(problem->retryButton()->text(), QString("Retry"));
        t.shoot(view, "git-problem");

        // Mended behind the window's back, Retry finds the repository.
        QFile::remove(folder + "/.git");
        t.git(folder, {"init", "-q", "-b", "main"});
        problem->retryButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(view->state(), GitWorkspaceView::State::repository, 30000);
    }

    void checkboxesSpaceAndIncludeAllStageForReal()
    {
        GitTab t;
        const QString repo =
            t.box.makeRepo("site", {{"app/a.php", "a\n"}, {"app/b.php", "b\n"}, {"c.txt", "c\n"}});
        t.box.write(repo, "app/a.php", "a2\n");
        t.box.write(repo, "app/b.php", "b2\n");
        t.box.write(repo, "c.txt", "c2\n");
        t.box.write(repo, "new file.md", "new\n");
        GitWorkspaceView* view = t.open(repo);
        GitChangesList* list = view->changesList();
        QCOMPARE(list->filterField()->placeholderText(), QString("Filter files"));
        QCOMPARE(list->includeAllBox()->text(), QString("Include all changes"));
        QCOMPARE(list->includeAllBox()->toolTip(), QString("git add / git restore --staged for every file"));
        QCOMPARE(list->view()->model()->rowCount(), 4);
        QCOMPARE(view->repoBar()->statusLabel()->text(), QString("4 changed"));
        QCOMPARE(view->composer()->countLabel()->text(), QString("Nothing included"));
        const QModelIndex first = list->view()->model()->index(rowOf(list->view(), "app/a.php"), 0);
        QCOMPARE(first.data().toString(), QString("a.php"));
        QCOMPARE(first.data(GitChangesModel::ParentRole).toString(), QString("app"));
        QCOMPARE(first.data(GitChangesModel::KindRole).toString(), QString("Edited"));
        QCOMPARE(first.data(Qt::ToolTipRole).toString(), QString("git add -- app/a.php"));
        QCOMPARE(first.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);

        // Checkbox: include, then exclude again.
        QVERIFY(t.clickCheckbox("app/a.php"));
        QTRY_COMPARE_WITH_TIMEOUT(t.cached(repo), QStringList({"app/a.php"}), 20000);
        QVERIFY(t.settle());
        QCOMPARE(view->composer()->countLabel()->text(), QString("1 included"));
        QCOMPARE(list->includeAllBox()->checkState(), Qt::PartiallyChecked);
        QVERIFY(t.clickCheckbox("app/a.php"));
        QTRY_VERIFY_WITH_TIMEOUT(t.cached(repo).isEmpty(), 20000);
        QVERIFY(t.settle());

        // Space toggles the selected row.
        const int row = rowOf(list->view(), "c.txt");
        list->view()->setFocus();
        list->view()->setCurrentIndex(list->view()->model()->index(row, 0));
        QTRY_COMPARE(view->workspace()->selectedPath().value_or(QString()), QString("c.txt"));
        QTest::keyClick(list->view(), Qt::Key_Space);
        QTRY_COMPARE_WITH_TIMEOUT(t.cached(repo), QStringList({"c.txt"}), 20000);
        QVERIFY(t.settle());
        QTest::keyClick(list->view(), Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(t.cached(repo).isEmpty(), 20000);
        QVERIFY(t.settle());

        // "Include all changes", then again to exclude everything.
        list->includeAllBox()->click();
        QTRY_COMPARE_WITH_TIMEOUT(t.cached(repo).size(), 4, 20000);
        QVERIFY(t.settle());
        QCOMPARE(list->includeAllBox()->checkState(), Qt::Checked);
        QCOMPARE(view->composer()->countLabel()->text(), QString("4 included"));
        t.shoot(view, "git-changes-all-included");
        list->includeAllBox()->click();
        QTRY_VERIFY_WITH_TIMEOUT(t.cached(repo).isEmpty(), 20000);
        QVERIFY(t.settle());
        QCOMPARE(list->includeAllBox()->checkState(), Qt::Unchecked);

        // The filter narrows the rows; a filter that hides everything says so.
        QTest::keyClicks(list->filterField(), "app/");
        QCOMPARE(list->view()->model()->rowCount(), 2);
        list->filterField()->clear();
        QTest::keyClicks(list->filterField(), "zzz");
        QVERIFY(list->emptyLabel()->isVisible());
        QCOMPARE(list->emptyLabel()->text(), QString("No files"));
        list->filterField()->clear();
        QCOMPARE(list->view()->model()->rowCount(), 4);

        // Included, then edited again: the row shows the partial mark.
        t.git(repo, {"add", "c.txt"});
        t.box.write(repo, "c.txt", "c3\n");
        halvik::waitFor(view->workspace()->refresh(false));
        const QModelIndex mixed = list->view()->model()->index(rowOf(list->view(), "c.txt"), 0);
        QCOMPARE(mixed.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::PartiallyChecked);
        QCOMPARE(list->includeAllBox()->checkState(), Qt::PartiallyChecked);
        // Its checkbox takes the whole file out.
        QVERIFY(t.clickCheckbox("c.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(t.cached(repo).isEmpty(), 20000);
        QVERIFY(t.settle());
    }

    void rowMenuActsOnTheSelection()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site", {{"a.txt", "a\n"}, {"b.txt", "b\n"}});
        t.box.write(repo, "a.txt", "a2\n");
        t.box.write(repo, "b.txt", "b2\n");
        GitWorkspaceView* view = t.open(repo);
        GitChangesList* list = view->changesList();
        list->view()->selectAll();
        QTRY_COMPARE(view->workspace()->selectedPaths().size(), 2);
        std::unique_ptr<QMenu> menu(list->contextMenu(0));
        QCOMPARE(actionTexts(menu.get()),
                 QStringList({"Include 2 Files", "Exclude 2 Files", "Discard 2 Files", "Open in Editor",
                              "Show in File Manager", "Copy Path"}));
        QVERIFY(!actionNamed(menu.get(), "Exclude 2 Files")->isEnabled());
        actionNamed(menu.get(), "Copy Path")->trigger();
        QCOMPARE(QApplication::clipboard()->text().split('\n'), QStringList({"a.txt", "b.txt"}));
        actionNamed(menu.get(), "Include 2 Files")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(t.cached(repo), QStringList({"a.txt", "b.txt"}), 20000);
        QVERIFY(t.settle());

        // Discarding asks first; declining keeps the file.
        list->view()->clearSelection();
        list->view()->setCurrentIndex(list->view()->model()->index(0, 0));
        menu.reset(list->contextMenu(0));
        QCOMPARE(actionTexts(menu.get()).first(), QString("Include"));
        t.prompts.answers.push_back("Cancel");
        actionNamed(menu.get(), "Discard")->trigger();
        QVERIFY(t.settle());
        QCOMPARE(t.prompts.asked.last().title, QString("Discard this change?"));
        QCOMPARE(t.box.read(repo, "a.txt"), QByteArray("a2\n"));
    }

    void commitsWithTheMessageOrTheSuggestion()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site", {{"a.txt", "a\n"}, {"b.txt", "b\n"}});
        t.box.write(repo, "a.txt", "a2\n");
        t.box.write(repo, "b.txt", "b2\n");
        GitWorkspaceView* view = t.open(repo);
        GitComposer* composer = view->composer();
        QCOMPARE(composer->messageField()->accessibleName(), QString("Commit message"));
        QVERIFY(!composer->commitButton()->isEnabled()); // nothing included yet

        QVERIFY(t.clickCheckbox("a.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(composer->commitButton()->isEnabled(), 20000);
        QVERIFY(t.settle());
        QTest::keyClicks(composer->messageField(), "Fix the greeting");
        QCOMPARE(view->workspace()->message(), QString("Fix the greeting"));
        QTest::keyClick(composer->messageField(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(t.git(repo, {"log", "-1", "--format=%s"}).trimmed(),
                                  QString("Fix the greeting"), 20000);
        QVERIFY(t.settle());
        QVERIFY(composer->messageField()->text().isEmpty());
        QCOMPARE(t.git(repo, {"show", "--name-only", "--format=", "HEAD"}).trimmed(), QString("a.txt"));

        // Empty message: Ctrl+Enter from the list commits with the suggestion shown as placeholder.
        QVERIFY(t.clickCheckbox("b.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(composer->commitButton()->isEnabled(), 20000);
        QVERIFY(t.settle());
        const QString suggestion = composer->messageField()->placeholderText();
        QCOMPARE(suggestion, view->workspace()->suggestedMessage());
        QVERIFY(!suggestion.isEmpty());
        view->changesList()->view()->setFocus();
        QTest::keyClick(view->changesList()->view(), Qt::Key_Return, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(t.git(repo, {"log", "-1", "--format=%s"}).trimmed(), suggestion, 20000);
        QVERIFY(t.settle());
        QCOMPARE(view->repoBar()->statusLabel()->text(), QString("Clean"));
        QVERIFY(view->changesList()->emptyLabel()->isVisible());
        QCOMPARE(view->changesList()->emptyLabel()->text(), QString("Working tree is clean."));
        QCOMPARE(view->banners()->noticeBanner()->text(), QString("Commit finished"));
        t.shoot(view, "git-committed");
    }

    void dirtySwitchSetsAsideAndSwitches()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site", {{"a.txt", "main\n"}});
        t.box.git(repo, {"checkout", "-q", "-b", "other"});
        t.box.write(repo, "a.txt", "other\n");
        t.box.commitAll(repo, "Other");
        t.box.git(repo, {"checkout", "-q", "main"});
        t.box.write(repo, "a.txt", "edited on main\n");
        GitWorkspaceView* view = t.open(repo);
        QCOMPARE(view->repoBar()->branchButton()->text(), QString("Branch main"));

        GitBranch other;
        for (const auto& branch : view->workspace()->snapshot().branches)
            if (branch.name == "other" && !branch.isRemote)
                other = branch;
        QCOMPARE(other.name, QString("other"));
        halvik::waitFor(view->workspace()->checkout(other));
        QVERIFY(t.settle());
        GitNoticeBanner* dirty = view->banners()->dirtySwitchBanner();
        QVERIFY(dirty->isVisible());
        QCOMPARE(dirty->text(),
                 QString("Uncommitted changes would be overwritten. Set them aside to switch."));
        // The same sentence is not shown twice.
        QVERIFY(!view->banners()->noticeBanner()->isVisible());
        t.shoot(view, "git-dirty-switch");

        QPushButton* setAside = nullptr;
        for (auto* button : dirty->findChildren<QPushButton*>())
            if (button->text() == "Set Aside and Switch")
                setAside = button;
        QVERIFY(setAside);
        setAside->click();
        QTRY_COMPARE_WITH_TIMEOUT(view->repoBar()->branchButton()->text(), QString("Branch other"), 20000);
        QVERIFY(t.settle());
        QVERIFY(!dirty->isVisible());
        QVERIFY(t.git(repo, {"stash", "list"}).contains("Set aside before switching to other"));
        QCOMPARE(view->repoBar()->statusLabel()->text(), QString("Clean \u00B7 1 set aside"));

        // The chip counts the set-aside changes and asks for their sheet.
        GitStashChip* chip = view->banners()->stashChip();
        QVERIFY(chip->isVisible());
        QCOMPARE(chip->text(), QString("1 set-aside change sets"));
        t.shoot(view, "git-set-aside-chip");
        chip->click();
        QVERIFY(view->workspace()->showingStashManager() || t.window.findChildren<QDialog*>().size() > 0);
        view->workspace()->setShowingStashManager(false);

        // Restoring brings the edit back (on this branch it clashes, so it shows as a conflict).
        halvik::waitFor(view->workspace()->restoreStash(view->workspace()->snapshot().stashes.first()));
        QVERIFY(t.settle());
        QVERIFY(t.box.read(repo, "a.txt").contains("edited on main"));
    }

    void moreActionsSetsChangesAsideAndTheyComeBack()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site", {{"a.txt", "a\n"}});
        t.box.write(repo, "a.txt", "work in progress\n");
        t.box.write(repo, "new.txt", "untracked too\n");
        GitWorkspaceView* view = t.open(repo);
        QToolButton* more = view->composer()->moreButton();
        QCOMPARE(more->accessibleName(), QString("More actions"));
        QVERIFY(more->isEnabled());
        QCOMPARE(actionTexts(more->menu()), QStringList({"Set aside"}));
        more->menu()->actions().first()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(view->banners()->stashChip()->isVisible(), 20000);
        QVERIFY(t.settle());
        QCOMPARE(t.git(repo, {"stash", "list"}).count('\n'), 1);
        QCOMPARE(t.box.read(repo, "a.txt"), QByteArray("a\n"));
        QVERIFY(!QFile::exists(repo + "/new.txt"));
        QCOMPARE(view->repoBar()->statusLabel()->text(), QString("Clean \u00B7 1 set aside"));
        QVERIFY(!more->isEnabled()); // nothing left to set aside

        halvik::waitFor(view->workspace()->restoreStash(view->workspace()->snapshot().stashes.first()));
        QVERIFY(t.settle());
        QCOMPARE(t.box.read(repo, "a.txt"), QByteArray("work in progress\n"));
        QVERIFY(QFile::exists(repo + "/new.txt"));
        QCOMPARE(view->changesList()->view()->model()->rowCount(), 2);
    }

    void dirtySwitchCancelForgetsTheSwitch()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site", {{"a.txt", "main\n"}});
        t.box.git(repo, {"checkout", "-q", "-b", "other"});
        t.box.write(repo, "a.txt", "other\n");
        t.box.commitAll(repo, "Other");
        t.box.git(repo, {"checkout", "-q", "main"});
        t.box.write(repo, "a.txt", "edited\n");
        GitWorkspaceView* view = t.open(repo);
        GitBranch other;
        other.name = "other";
        halvik::waitFor(view->workspace()->checkout(other));
        QVERIFY(t.settle());
        GitNoticeBanner* dirty = view->banners()->dirtySwitchBanner();
        QVERIFY(dirty->isVisible());
        for (auto* button : dirty->findChildren<QPushButton*>())
            if (button->text() == "Cancel")
                button->click();
        QVERIFY(!view->workspace()->pendingDirtySwitch());
        QVERIFY(!dirty->isVisible());
        QCOMPARE(t.git(repo, {"branch", "--show-current"}).trimmed(), QString("main"));
    }

    void rejectedPushShowsTheNoticeWithCopyableDetails()
    {
        GitTab t;
        const QString repo = conflictingPull(t);
        GitWorkspaceView* view = t.open(repo);
        // The fetch after the first look brings the remote's commit in.
        QTRY_COMPARE_WITH_TIMEOUT(view->repoBar()->statusLabel()->text(),
                                  QString("Clean \u00B7 1 behind \u00B7 1 ahead"), 20000);
        QVERIFY(view->composer()->pushButton()->isEnabled());
        view->composer()->pushButton()->click();
        QVERIFY(t.settle());
        GitNoticeBanner* notice = view->banners()->noticeBanner();
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->text(),
                 QString("The remote has newer changes \u2014 Pull will bring them in first."));
        QCOMPARE(notice->tone(), Semantic::danger);
        QVERIFY(notice->detailsToggle()->isVisible());
        QVERIFY(notice->copyButton()->isVisible());
        t.shoot(view, "git-notice-rejected");

        // A remote that is not there: Git's own words go behind "Details" and can be copied.
        t.git(repo, {"remote", "set-url", "origin", t.box.path("missing.git")});
        halvik::waitFor(view->workspace()->refresh(false));
        QVERIFY(view->composer()->pushButton()->isEnabled());
        view->composer()->pushButton()->click();
        QVERIFY(t.settle());
        QVERIFY(view->workspace()->noticeFailed());
        QVERIFY(notice->isVisible());
        // Git's long answer: its first paragraph in the banner, all of it behind Details.
        QCOMPARE(notice->text(), view->workspace()->notice()->section("\n\n", 0, 0));
        QVERIFY(notice->text().size() < view->workspace()->notice()->size());
        QVERIFY(notice->detailsToggle()->isVisible());
        QCOMPARE(notice->detailsToggle()->text(), QString("Details"));
        QVERIFY(!notice->detailsText()->isVisible());
        notice->detailsToggle()->click();
        QVERIFY(notice->detailsText()->isVisible());
        QCOMPARE(notice->copyButton()->text(), QString("Copy details"));
        QApplication::clipboard()->clear();
        notice->copyButton()->click();
        QCOMPARE(QApplication::clipboard()->text(), *view->workspace()->rawError());
        QVERIFY(QApplication::clipboard()->text().contains("missing.git"));
        t.shoot(view, "git-notice-failed");
    }

    void refreshBecomesCancelWhileANetworkOperationRuns()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site");
        // An SSH remote whose transport only sleeps: the pull hangs until it is stopped.
        const QString script = t.box.path("slow-ssh");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho $$ > '" + t.box.path("ssh.pid").toUtf8() + "'\nsleep 20\nexit 1\n");
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        GitWorkspaceView* view = t.open(repo);
        QTRY_COMPARE_WITH_TIMEOUT(view->workspace()->loadsInFlight(), 0, 20000);
        // Added once the first look (and its fetch) is over, so only the pull meets it.
        t.git(repo, {"config", "core.sshCommand", script});
        t.git(repo, {"remote", "add", "origin", "ssh://slow.invalid/site.git"});
        halvik::waitFor(view->workspace()->refresh(false));
        QPushButton* refresh = view->repoBar()->refreshButton();
        QCOMPARE(refresh->text(), QString("Refresh"));
        QTRY_VERIFY_WITH_TIMEOUT(view->composer()->pullButton()->isEnabled(), 20000);
        view->composer()->pullButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(refresh->text(), QString("Cancel"), 20000);
        QCOMPARE(view->repoBar()->busyLabel()->text(), QString("Pull\u2026"));
        QVERIFY(!view->composer()->pushButton()->isEnabled());
        t.shoot(view, "git-network-busy");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(t.box.path("ssh.pid")), 20000);
        QElapsedTimer timer;
        timer.start();
        refresh->click();
        QTRY_COMPARE_WITH_TIMEOUT(refresh->text(), QString("Refresh"), 10000);
        QVERIFY(timer.elapsed() < 10000);
        QVERIFY(t.settle());
        QCOMPARE(view->workspace()->notice().value_or(QString()), QString("Cancelled"));
        QVERIFY(!view->workspace()->noticeFailed());
        QCOMPARE(view->banners()->noticeBanner()->text(), QString("Cancelled"));
        QVERIFY(!view->repoBar()->busyLabel()->isVisible());
    }

    void rebaseBannerContinuesAfterResolving()
    {
        GitTab t;
        const QString repo = conflictingPull(t);
        GitWorkspaceView* view = t.open(repo);
        view->composer()->pullButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(view->workspace()->snapshot().status.inProgressRebase, 30000);
        QVERIFY(t.settle());
        GitRebaseBanner* banner = view->banners()->rebaseBanner();
        QVERIFY(banner->isVisible());
        QCOMPARE(banner->title(), QString("Interrupted rebase"));
        QCOMPARE(banner->text(),
                 QString("A pull stopped mid-rebase. Mark files resolved and Continue, or Abort to "
                         "return to the previous branch state."));
        QCOMPARE(banner->fileList()->count(), 1);
        QCOMPARE(banner->fileList()->item(0)->text(), QString("a.txt"));
        QCOMPARE(
            banner->helpLabel()->text(),
            QString(
                "You can still browse. Unsafe actions are disabled until this is resolved. Continue runs git "
                "rebase --continue; Abort runs git rebase --abort."));
        QCOMPARE(view->repoBar()->statusLabel()->text(), QString("Rebase in progress"));
        // Unsafe actions wait for the rebase.
        QVERIFY(!view->composer()->commitButton()->isEnabled());
        QVERIFY(!view->composer()->pullButton()->isEnabled());
        QVERIFY(!view->composer()->pushButton()->isEnabled());
        QVERIFY(!view->repoBar()->branchButton()->isEnabled());
        std::unique_ptr<QMenu> menu(view->changesList()->contextMenu(0));
        QVERIFY(!actionNamed(menu.get(), "Discard")->isEnabled());
        QVERIFY(actionNamed(menu.get(), "Mark Resolved"));
        t.shoot(view, "git-rebase");

        // Resolve, mark resolved from the row menu, then Continue.
        t.box.write(repo, "a.txt", "both\n");
        actionNamed(menu.get(), "Mark Resolved")->trigger();
        QVERIFY(t.settle());
        QPushButton* continueButton = nullptr;
        for (auto* button : banner->findChildren<QPushButton*>())
            if (button->text() == "Continue Rebase")
                continueButton = button;
        QVERIFY(continueButton);
        continueButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(!view->workspace()->snapshot().status.inProgressRebase, 30000);
        QVERIFY(t.settle());
        QVERIFY(!banner->isVisible());
        QCOMPARE(t.git(repo, {"log", "--format=%s", "-2"}).split('\n', Qt::SkipEmptyParts),
                 QStringList({"Ours", "Theirs"}));
        QCOMPARE(t.box.read(repo, "a.txt"), QByteArray("both\n"));
    }

    void rebaseBannerAbortsAfterConfirming()
    {
        GitTab t;
        const QString repo = conflictingPull(t);
        GitWorkspaceView* view = t.open(repo);
        const QString before = t.git(repo, {"rev-parse", "HEAD"}).trimmed();
        view->composer()->pullButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(view->workspace()->snapshot().status.inProgressRebase, 30000);
        QVERIFY(t.settle());
        GitRebaseBanner* banner = view->banners()->rebaseBanner();
        QPushButton* abort = nullptr;
        for (auto* button : banner->findChildren<QPushButton*>())
            if (button->text() == "Abort Rebase")
                abort = button;
        QVERIFY(abort);

        // Declined: nothing happens.
        t.prompts.answers.push_back("Cancel");
        abort->click();
        QVERIFY(t.settle());
        QVERIFY(view->workspace()->snapshot().status.inProgressRebase);
        QCOMPARE(t.prompts.asked.last().title, QString("Abort rebase?"));
        QCOMPARE(t.prompts.asked.last().text, QString("Goes back to the branch as it was before this pull. "
                                                      "Uncommitted files stay as they are."));

        t.prompts.answers.push_back("Abort Rebase");
        abort->click();
        QTRY_VERIFY_WITH_TIMEOUT(!view->workspace()->snapshot().status.inProgressRebase, 30000);
        QVERIFY(t.settle());
        QVERIFY(!banner->isVisible());
        QCOMPARE(t.git(repo, {"rev-parse", "HEAD"}).trimmed(), before);
        QCOMPARE(t.box.read(repo, "a.txt"), QByteArray("ours\n"));
    }

    void identityBannerSavesTheIdentityThenOriginBannerAppears()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site");
        QFile::remove(QDir::home().filePath(".gitconfig")); // nobody is configured any more
        GitWorkspaceView* view = t.open(repo);
        GitIdentityBanner* identity = view->banners()->identityBanner();
        QVERIFY(identity->isVisible());
        QCOMPARE(identity->text(), QString("Git needs your name once so every save has it."));
        QCOMPARE(identity->emailField()->placeholderText(), QString("Email"));
        // The origin banner never stands beside the identity banner.
        QVERIFY(!view->banners()->originBanner()->isVisible());
        QVERIFY(!identity->saveButton()->isEnabled());
        t.shoot(view, "git-identity");

        QTest::keyClicks(identity->nameField(), "Ada Lovelace");
        QTest::keyClicks(identity->emailField(), "ada@example.invalid");
        QCOMPARE(view->workspace()->identityName(), QString("Ada Lovelace"));
        QVERIFY(identity->saveButton()->isEnabled());
        identity->saveButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!identity->isVisible(), 20000);
        QVERIFY(t.settle());
        QCOMPARE(t.git(repo, {"config", "--global", "user.name"}).trimmed(), QString("Ada Lovelace"));
        QCOMPARE(t.git(repo, {"config", "--global", "user.email"}).trimmed(), QString("ada@example.invalid"));

        GitBanner* origin = view->banners()->originBanner();
        QVERIFY(origin->isVisible());
        QCOMPARE(origin->text(), QString("This site only lives on this computer"));
        QStringList buttons;
        for (auto* button : origin->findChildren<QPushButton*>())
            buttons << button->text();
        QCOMPARE(buttons, QStringList({"Create GitHub repo\u2026", "Repository tools\u2026"}));
        t.shoot(view, "git-origin");
        // Without an account, creating the repository starts by connecting one.
        origin->findChildren<QPushButton*>().at(0)->click();
        QPointer<ConnectSheet> connect = view->sheets()->connectSheet();
        QVERIFY(connect && connect->isVisible());
        QCOMPARE(connect->providerPicker()->currentText(), QString("GitHub"));
        connect->reject();
        QTRY_VERIFY(!connect);
        QVERIFY(!view->workspace()->showingCreateGitHubRepo());
        origin->findChildren<QPushButton*>().at(1)->click();
        QPointer<GitRepositorySheet> tools = view->sheets()->repositorySheet();
        QVERIFY(tools && tools->isVisible());
        tools->reject();
        QTRY_VERIFY(!tools);

        // With a GitLab account the banner offers GitLab, and its sheet creates the repository there.
        t.services.store().upsertSourceControl({"gitlab", "gina", QDateTime::currentDateTimeUtc()});
        QTRY_COMPARE(origin->findChildren<QPushButton*>().at(0)->text(), QString("Create GitLab repo\u2026"));
        origin->findChildren<QPushButton*>().at(0)->click();
        QPointer<CreateRepositorySheet> create = view->sheets()->createRepositorySheet();
        QVERIFY(create && create->isVisible());
        QCOMPARE(create->windowTitle(), QString("Create GitLab repository"));
        t.shoot(create, "git-origin-create-repository");
        create->reject();
        QTRY_VERIFY(!create);
    }

    void trackedEnvBannerStopsTracking()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site", {{".env", "APP_KEY=secret\n"}});
        GitWorkspaceView* view = t.open(repo);
        GitNoticeBanner* env = view->banners()->envBanner();
        QVERIFY(env->isVisible());
        QCOMPARE(env->title(), QString(".env is being tracked"));
        QCOMPARE(env->text(),
                 QString("It usually has secrets. Stop tracking it so it isn\u2019t pushed \u2014 "
                         "Halvik will also ignore it."));
        t.shoot(view, "git-env-tracked");
        QPushButton* stop = env->findChildren<QPushButton*>().value(1);
        for (auto* button : env->findChildren<QPushButton*>())
            if (button->text() == "Stop tracking .env")
                stop = button;
        QCOMPARE(stop->text(), QString("Stop tracking .env"));
        stop->click();
        QTRY_VERIFY_WITH_TIMEOUT(!env->isVisible(), 20000);
        QVERIFY(t.settle());
        QVERIFY(t.git(repo, {"ls-files", ".env"}).trimmed().isEmpty());
        QVERIFY(QFile::exists(repo + "/.env"));
    }

    void splitHandleClampsAndRemembersTheWidth()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site");
        GitWorkspaceView* view = t.open(repo);
        t.window.resize(1600, 900);
        QTRY_VERIFY(!view->isCompact());
        GitRegularSplit* split = view->split();
        GitSplitHandle* handle = split->handle();
        const int handleWidth = handle->sizeHint().width();
        t.services.preferences().setGitSplitMasterWidth(320); // whatever an earlier case left
        QCOMPARE(split->masterWidth(), 320);

        // The handle follows the pointer, so each step is placed where the pointer is on screen.
        const auto drag = [&](int dx) {
            const QPoint start = handle->mapToGlobal(handle->rect().center());
            const auto at = [&](int moved) { return handle->mapFromGlobal(start + QPoint(moved, 0)); };
            QTest::mousePress(handle, Qt::LeftButton, {}, at(0));
            QTest::mouseMove(handle, at(dx / 2));
            QCOMPARE(t.services.preferences().gitSplitMasterWidth(),
                     GitRegularSplit::clampedWidth(split->masterWidth(), split->width(), handleWidth));
            QTest::mouseMove(handle, at(dx));
            QTest::mouseRelease(handle, Qt::LeftButton, {}, at(dx));
        };
        drag(40);
        QCOMPARE(split->masterWidth(), 360);
        QCOMPARE(t.services.preferences().gitSplitMasterWidth(), 360.0);
        // From the keyboard too.
        handle->setFocus();
        QTest::keyClick(handle, Qt::Key_Left);
        QCOMPARE(split->masterWidth(), 344);
        QTest::keyClick(handle, Qt::Key_Right);
        QCOMPARE(t.services.preferences().gitSplitMasterWidth(), 360.0);
        drag(-1000);
        QCOMPARE(split->masterWidth(), 240);
        QCOMPARE(t.services.preferences().gitSplitMasterWidth(), 240.0);
        drag(1000);
        QCOMPARE(split->masterWidth(), 520);
        QCOMPARE(t.services.preferences().gitSplitMasterWidth(), 520.0);

        // In a narrower container the limit is what leaves the detail 280 points.
        t.window.resize(1250, 800);
        QTRY_VERIFY(split->width() < 520 + 280 + handleWidth);
        QVERIFY(!view->isCompact());
        const int limit = split->width() - 280 - handleWidth;
        QVERIFY(limit > 240 && limit < 520);
        drag(1000);
        QCOMPARE(split->masterWidth(), limit);
        QCOMPARE(t.services.preferences().gitSplitMasterWidth(), double(limit));
        t.shoot(view, "git-split-limit");

        QCOMPARE(GitRegularSplit::clampedWidth(100, 2000, 7), 240.0);
        QCOMPARE(GitRegularSplit::clampedWidth(900, 2000, 7), 520.0);
        QCOMPARE(GitRegularSplit::clampedWidth(400, 600, 7), 313.0);
        // Too narrow for both: the limit never drops below 240.
        QCOMPARE(GitRegularSplit::clampedWidth(400, 300, 7), 240.0);
    }

    void narrowWindowTakesTurnsBetweenListAndDetail()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site", {{"a.txt", "a\n"}});
        t.box.write(repo, "a.txt", "changed\n");
        GitWorkspaceView* view = t.open(repo);
        view->workspace()->selectFiles({});
        view->workspace()->setCompactShowsDetail(false);
        t.window.resize(760, 700);
        QTRY_VERIFY(view->isCompact());
        GitCompactStack* compact = view->compactStack();
        QVERIFY(!compact->showsDetail());
        QVERIFY(view->changesList()->isVisible());
        t.shoot(view, "git-compact-list");

        view->changesList()->view()->setCurrentIndex(view->changesList()->view()->model()->index(0, 0));
        QTRY_VERIFY(compact->showsDetail());
        QVERIFY(view->diffPane()->isVisible());
        QVERIFY(!view->changesList()->isVisible());
        QCOMPARE(compact->backButton()->accessibleName(), QString("Back"));
        QCOMPARE(compact->titleLabel()->toolTip(), QString("a.txt"));
        t.shoot(view, "git-compact-detail");
        compact->backButton()->click();
        QVERIFY(!compact->showsDetail());
        QVERIFY(view->changesList()->isVisible());

        // Wide again: side by side, same panes.
        t.window.resize(1400, 800);
        QTRY_VERIFY(!view->isCompact());
        QVERIFY(view->changesList()->isVisible());
        QVERIFY(view->diffPane()->isVisible());
    }

    // A window as Halvik first opens it shows the whole diff bar and the hunk's buttons: the
    // sites list gives way, not the diff.
    void theDiffBarFitsTheDefaultWindow()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("a-site-with-a-long-folder-name", {{"app/Http/a.php", "a\n"}});
        t.box.write(repo, "app/Http/a.php", "changed\n");
        GitWorkspaceView* view = t.open(repo, "A site with a rather long name");
        t.window.resize(MainWindow::defaultSize);
        QTRY_VERIFY(!view->isCompact());
        view->changesList()->view()->setCurrentIndex(view->changesList()->view()->model()->index(0, 0));
        GitDiffPane* diff = view->diffPane();
        QTRY_VERIFY(diff->message().isEmpty() && diff->scroll()->diffModel()->hunkCount() == 1);
        QVERIFY(t.settle());
        for (auto scope : {GitDiffScope::included, GitDiffScope::remaining}) {
            QAbstractButton* button = diff->scopeButton(scope);
            QVERIFY(button->isVisible());
            QCOMPARE(button->visibleRegion(), QRegion(button->rect()));
        }
        const QList<GitHunkButton> buttons = diff->scroll()->headerButtons(0);
        QVERIFY(!buttons.isEmpty());
        for (const GitHunkButton& button : buttons)
            QVERIFY2(diff->scroll()->viewport()->rect().contains(button.rect), qPrintable(button.label));
    }

    void historyPagesAndItsRowMenu()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site");
        for (int i = 0; i < 59; ++i)
            t.box.git(repo, {"commit", "-q", "--allow-empty", "-m", QString("Step %1").arg(i)});
        t.box.write(repo, "notes.txt", "one\ntwo\n");
        t.box.commitAll(repo, "Add notes\n\nWhy the notes matter.");
        GitWorkspaceView* view = t.open(repo);
        view->tabBar()->setCurrentIndex(1);
        QCOMPARE(view->workspace()->listTab(), GitListTab::history);
        QVERIFY(t.settle());
        GitHistoryList* history = view->historyList();
        QVERIFY(history->isVisible());
        QCOMPARE(history->filterField()->placeholderText(), QString("Filter history"));
        QCOMPARE(history->view()->model()->rowCount(), 50);
        QVERIFY(history->loadMoreButton()->isVisible());
        QCOMPARE(history->view()->model()->index(0, 0).data().toString(), QString("Add notes"));
        QCOMPARE(history->view()->model()->index(0, 0).data(GitHistoryModel::AuthorRole).toString(),
                 QString("Test Person"));
        QCOMPARE(history->view()->model()->index(0, 0).data(GitHistoryModel::DateRole).toString(),
                 QString("just now"));

        // The first commit is selected; its detail shows header, body and files.
        QTRY_VERIFY_WITH_TIMEOUT(view->workspace()->commitDetail().has_value(), 20000);
        QVERIFY(t.settle());
        QCOMPARE(view->historyDetail()->subjectLabel()->text(), QString("Add notes"));
        QCOMPARE(view->historyDetail()->bodyLabel()->text(), QString("Why the notes matter."));
        QCOMPARE(view->historyDetail()->filesLabel()->text(), QString("1 file"));
        t.shoot(view, "git-history");

        history->loadMoreButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(history->view()->model()->rowCount(), 61, 20000);
        QVERIFY(t.settle());
        QVERIFY(!history->loadMoreButton()->isVisible());

        // An empty commit: no files.
        history->view()->setCurrentIndex(history->view()->model()->index(1, 0));
        QTRY_COMPARE_WITH_TIMEOUT(view->historyDetail()->subjectLabel()->text(), QString("Step 58"), 20000);
        QVERIFY(t.settle());
        QCOMPARE(view->historyDetail()->filesLabel()->text(), QString("No files in this commit."));

        std::unique_ptr<QMenu> menu(history->contextMenu(0));
        QCOMPARE(actionTexts(menu.get()),
                 QStringList({"Copy SHA", "Open on Remote", "Undo This Commit\u2026"}));
        QVERIFY(!actionNamed(menu.get(), "Open on Remote")->isEnabled()); // no remote
        actionNamed(menu.get(), "Copy SHA")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), t.git(repo, {"rev-parse", "HEAD"}).trimmed());

        // Undo asks first, then adds the commit that reverses it.
        t.prompts.answers.push_back("Undo");
        actionNamed(menu.get(), "Undo This Commit\u2026")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(repo + "/notes.txt"), 20000);
        QVERIFY(t.settle());
        QCOMPARE(t.prompts.asked.last().title, QString("Undo this commit?"));
        QCOMPARE(history->view()->model()->rowCount(), 62);
        QCOMPARE(t.git(repo, {"log", "-1", "--format=%s"}).trimmed(), QString("Revert \"Add notes\""));

        // With a remote, the commit opens on its web page.
        t.git(repo, {"remote", "add", "origin", "git@github.com:acme/shop.git"});
        halvik::waitFor(view->workspace()->refresh(false));
        QList<QUrl> opened;
        view->workspace()->openURL = [&opened](const QUrl& url) { opened << url; };
        menu.reset(history->contextMenu(0));
        QVERIFY(actionNamed(menu.get(), "Open on Remote")->isEnabled());
        actionNamed(menu.get(), "Open on Remote")->trigger();
        QCOMPARE(opened.size(), 1);
        const QString head = t.git(repo, {"rev-parse", "HEAD"}).trimmed();
        QCOMPARE(opened.first().toString(), QString("https://github.com/acme/shop/commit/") + head);

        const QDateTime now = QDateTime::currentDateTimeUtc();
        QCOMPARE(GitHistoryModel::relativeDate(now.addSecs(-65), now), QString("1 minute ago"));
        QCOMPARE(GitHistoryModel::relativeDate(now.addSecs(-2 * 3600 - 5), now), QString("2 hours ago"));
        QCOMPARE(GitHistoryModel::relativeDate(now.addDays(-3), now), QString("3 days ago"));
        QCOMPARE(GitHistoryModel::relativeDate(now.addDays(-800), now), QString("2 years ago"));

        QTest::keyClicks(history->filterField(), "step 1");
        QCOMPARE(history->view()->model()->rowCount(), 11); // Step 1 and Step 10 to 19
        history->filterField()->clear();
        QTest::keyClicks(history->filterField(), "nothing like this");
        QVERIFY(history->emptyLabel()->isVisible());
    }

    void statusLineJoinsItsParts()
    {
        GitTab t;
        const QString repo = t.box.makeRepo("site", {{"a.txt", "a\n"}});
        const QString remote = t.box.makeRemoteFor(repo, "remote.git");
        const QString other = t.box.clone(remote, "other");
        t.box.write(other, "b.txt", "b\n");
        t.box.commitAll(other, "Theirs");
        t.box.git(other, {"push", "-q", "origin", "main"});
        t.box.write(repo, "c.txt", "c\n");
        t.box.commitAll(repo, "Ours 1");
        t.box.write(repo, "d.txt", "d\n");
        t.box.commitAll(repo, "Ours 2");
        t.box.write(repo, "a.txt", "changed\n");
        t.box.write(repo, "e.txt", "e\n");
        t.box.git(repo, {"stash", "push", "-q", "--include-untracked", "-m", "kept"});
        t.box.write(repo, "a.txt", "changed again\n");
        GitWorkspaceView* view = t.open(repo);
        QTRY_COMPARE_WITH_TIMEOUT(view->repoBar()->statusLabel()->text(),
                                  QString("1 changed \u00B7 1 behind \u00B7 2 ahead \u00B7 1 set aside"),
                                  20000);
        QCOMPARE(view->repoBar()->refreshButton()->text(), QString("Refresh"));
        QCOMPARE(view->repoBar()->toolsButton()->accessibleName(), QString("Repository tools"));
        view->repoBar()->toolsButton()->click();
        QVERIFY(view->workspace()->showingRepositoryTools() || !t.window.findChildren<QDialog*>().isEmpty());
        view->workspace()->setShowingRepositoryTools(false);
        t.shoot(view, "git-repository");
    }
};

HALVIK_TEST_MAIN(GitTabTest)
#include "tst_gittab.moc"
