#include "FakeApiServer.h"
#include "FakePrompts.h"
#include "GitSandbox.h"
#include "Screenshots.h"
#include "TestMain.h"
#include "WaitFor.h"

#include "app/AppServices.h"
#include "app/GitWorkspace.h"
#include "async/FireAndForget.h"
#include "models/SecretStore.h"
#include "services/accounts/SourceControlService.h"
#include "views/accounts/ConnectSheet.h"
#include "views/accounts/CreateRepositorySheet.h"
#include "views/git/GitBranchPopover.h"
#include "views/git/GitNewBranchSheet.h"
#include "views/git/GitRepositorySheet.h"
#include "views/git/GitSheetPresenter.h"
#include "views/git/GitStashSheet.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

using namespace halvik;
using namespace halvik::views;
using halvik::test::FakeApiServer;
using halvik::test::FakePrompts;
using halvik::test::GitSandbox;

namespace {

void shoot(QWidget* widget, const QString& name)
{
    QVERIFY(halvik::test::saveLightAndDark(widget, name));
}

// One site's Git tab as far as the sheets see it: a window with the branch button, the
// workspace over a real repository and the presenter that opens the sheets.
struct Tab
{
    Tab(GitSandbox& box, const QString& repo)
        : secrets(box.path(QStringLiteral("secrets.json"))),
          site(std::make_shared<Site>(QStringLiteral("My Site"), repo)),
          workspace(new GitWorkspace(services.git(), services.store(), prompts, site))
    {
        window.resize(900, 600);
        anchor = new QPushButton(QStringLiteral("Branch main"), &window);
        anchor->move(24, 24);
        workspace->setRemoteCreator(&services.sourceControl().remoteCreator());
        workspace->openURL = [this](const QUrl& url) { opened.append(url); };
        presenter = new GitSheetPresenter(*workspace, services, &window);
        presenter->setBranchAnchor(anchor);
        window.show();
        refresh();
    }
    ~Tab()
    {
        workspace->stop();
        if (!QTest::qWaitFor([this] { return workspace->loadsInFlight() == 0; }, 30000))
            qFatal("A workspace load never ended");
        delete workspace;
    }

    void refresh() { halvik::waitFor(workspace->refresh(false)); }
    // Waits for the operation a click started, including the refresh that ends it.
    bool settled() const
    {
        return QTest::qWaitFor([this] { return !workspace->isOperating() && !workspace->isRefreshing(); },
                               30000);
    }

    SecretStore secrets;
    FakePrompts prompts;
    AppServices services{secrets, prompts};
    QWidget window;
    QPushButton* anchor = nullptr;
    SitePtr site;
    GitWorkspace* workspace;
    GitSheetPresenter* presenter = nullptr;
    QList<QUrl> opened;
};

QString git(const GitSandbox& box, const QString& repo, const QStringList& args, int* code = nullptr)
{
    return box.git(repo, args, code).trimmed();
}

// The popover's rows by section title.
QMap<QString, QStringList> sections(const GitBranchPopover* popover)
{
    QMap<QString, QStringList> out;
    QString section;
    QListWidget* list = popover->list();
    for (int r = 0; r < list->count(); ++r) {
        QListWidgetItem* item = list->item(r);
        // Section titles are the rows nobody can choose.
        if (item->flags() == Qt::NoItemFlags && item->font().bold())
            out.insert(section = item->text(), {});
        else
            out[section].append(item->text());
    }
    return out;
}

QListWidgetItem* branchRow(const GitBranchPopover* popover, const QString& name)
{
    const auto found = popover->list()->findItems(name, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
}

void clickRow(GitBranchPopover* popover, QListWidgetItem* item)
{
    QListWidget* list = popover->list();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

void replaceText(QLineEdit* field, const QString& text)
{
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

} // namespace

class GitSheetsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { GitSandbox::configureIdentity(); }

    void branchPopoverFiltersAndSwitches();
    void newBranchSheetCreatesTheBranch();
    void setAsideAndRestoreKeepIncludedAndRemaining();
    void identitySavedForTheRepositoryOrTheComputer();
    void originAndProviderButtons();
    void recoveryActionsAskFirst();
    void unsafeActionsWaitForTheRebase();
    void flagsOpenAndCloseTheSheets();
};

void GitSheetsTest::branchPopoverFiltersAndSwitches()
{
    GitSandbox box;
    const QString repo = box.makeRepo(QStringLiteral("site"));
    box.makeRemoteFor(repo, QStringLiteral("remote.git"));
    for (const char* name : {"feature/login", "bugfix/typo"})
        git(box, repo, {QStringLiteral("branch"), QString::fromLatin1(name)});
    git(box, repo,
        {QStringLiteral("push"), QStringLiteral("-q"), QStringLiteral("origin"),
         QStringLiteral("feature/login"), QStringLiteral("main:release")});
    git(box, repo, {QStringLiteral("fetch"), QStringLiteral("-q"), QStringLiteral("origin")});
    Tab tab(box, repo);

    tab.workspace->setShowingBranchPicker(true);
    QPointer<GitBranchPopover> popover = tab.presenter->branchPopover();
    QVERIFY(popover && popover->isVisible());
    // It drops down from the branch button.
    const QPoint below = tab.anchor->mapToGlobal(QPoint(0, tab.anchor->height()));
    QVERIFY(qAbs(popover->geometry().left() - below.x()) <= 4);
    QVERIFY(popover->geometry().top() >= below.y() && popover->geometry().top() <= below.y() + 8);
    QCOMPARE(popover->searchField()->placeholderText(), QStringLiteral("Find a branch"));
    QCOMPARE(popover->newBranchButton()->text(), QStringLiteral("New Branch…"));
    auto all = sections(popover);
    QCOMPARE(all.keys(), QStringList({QStringLiteral("Local"), QStringLiteral("Remote")}));
    QCOMPARE(all.value(QStringLiteral("Local")),
             QStringList(
                 {QStringLiteral("bugfix/typo"), QStringLiteral("feature/login"), QStringLiteral("main")}));
    QVERIFY(all.value(QStringLiteral("Remote")).contains(QStringLiteral("origin/release")));
    QVERIFY(all.value(QStringLiteral("Remote")).contains(QStringLiteral("origin/feature/login")));
    // The check mark (and what a screen reader hears) is on the current branch alone.
    for (const QString& name : all.value(QStringLiteral("Local")) + all.value(QStringLiteral("Remote"))) {
        const QString spoken = branchRow(popover, name)->data(Qt::AccessibleTextRole).toString();
        QCOMPARE(spoken.endsWith(QStringLiteral(", current branch")), name == QStringLiteral("main"));
    }
    shoot(popover, QStringLiteral("git-branch-popover"));

    // The highlight starts on the current branch; arrows in the search field move it and pass
    // over the section titles.
    QCOMPARE(popover->list()->currentItem()->text(), QStringLiteral("main"));
    QTest::keyClick(popover->searchField(), Qt::Key_Down);
    QCOMPARE(popover->list()->currentItem()->text(), all.value(QStringLiteral("Remote")).first());
    QTest::keyClick(popover->searchField(), Qt::Key_Up);
    QCOMPARE(popover->list()->currentItem()->text(), QStringLiteral("main"));
    QVERIFY(popover->searchField()->hasFocus());

    QTest::keyClicks(popover->searchField(), QStringLiteral("LOGIN"));
    all = sections(popover);
    QCOMPARE(all.value(QStringLiteral("Local")), QStringList{QStringLiteral("feature/login")});
    QCOMPARE(all.value(QStringLiteral("Remote")), QStringList{QStringLiteral("origin/feature/login")});
    replaceText(popover->searchField(), QStringLiteral("release"));
    all = sections(popover);
    QCOMPARE(all.keys(), QStringList{QStringLiteral("Remote")});
    shoot(popover, QStringLiteral("git-branch-popover-filtered"));
    replaceText(popover->searchField(), QStringLiteral("nothing-like-this"));
    QVERIFY(popover->list()->isHidden());
    QVERIFY(popover->emptyLabel()->isVisibleTo(popover));
    QVERIFY(!popover->rebaseNote()->isVisibleTo(popover));
    shoot(popover, QStringLiteral("git-branch-popover-no-match"));

    // Typing and Return switch to the first match, for real.
    replaceText(popover->searchField(), QStringLiteral("bugfix"));
    QTest::keyClick(popover->searchField(), Qt::Key_Return);
    QTRY_VERIFY(!popover);
    QVERIFY(!tab.workspace->showingBranchPicker());
    QVERIFY(tab.settled());
    QCOMPARE(git(box, repo, {QStringLiteral("branch"), QStringLiteral("--show-current")}),
             QStringLiteral("bugfix/typo"));

    // A remote branch becomes a local branch that tracks it.
    tab.workspace->setShowingBranchPicker(true);
    popover = tab.presenter->branchPopover();
    QVERIFY(popover);
    QCOMPARE(branchRow(popover, QStringLiteral("bugfix/typo"))->data(Qt::AccessibleTextRole).toString(),
             QStringLiteral("bugfix/typo, current branch"));
    clickRow(popover, branchRow(popover, QStringLiteral("origin/release")));
    QTRY_VERIFY(!popover);
    QVERIFY(tab.settled());
    QCOMPARE(git(box, repo, {QStringLiteral("branch"), QStringLiteral("--show-current")}),
             QStringLiteral("release"));
    QCOMPARE(
        git(box, repo,
            {QStringLiteral("rev-parse"), QStringLiteral("--abbrev-ref"), QStringLiteral("@{upstream}")}),
        QStringLiteral("origin/release"));

    // Escape closes without switching; so does choosing the current branch.
    tab.workspace->setShowingBranchPicker(true);
    popover = tab.presenter->branchPopover();
    QTest::keyClick(popover->searchField(), Qt::Key_Escape);
    QTRY_VERIFY(!popover);
    QVERIFY(!tab.workspace->showingBranchPicker());
    QVERIFY(!tab.workspace->isOperating());
}

void GitSheetsTest::newBranchSheetCreatesTheBranch()
{
    GitSandbox box;
    const QString repo = box.makeRepo(QStringLiteral("site"));
    box.write(repo, QStringLiteral("README.md"), "hello, work in progress\n");
    Tab tab(box, repo);

    tab.workspace->setShowingBranchPicker(true);
    QPointer<GitBranchPopover> popover = tab.presenter->branchPopover();
    popover->newBranchButton()->click();
    QTRY_VERIFY(!popover);
    QVERIFY(!tab.workspace->showingBranchPicker());
    QVERIFY(tab.workspace->showingNewBranch());
    QPointer<GitNewBranchSheet> sheet = tab.presenter->newBranchSheet();
    QVERIFY(sheet && sheet->isVisible());
    QCOMPARE(sheet->windowTitle(), QStringLiteral("New Branch"));
    QCOMPARE(sheet->nameField()->placeholderText(), QStringLiteral("feature/my-change"));
    QVERIFY(sheet->explanationLabel()->text().contains(QStringLiteral("the current commit")));
    QVERIFY(sheet->explanationLabel()->text().endsWith(QStringLiteral(". Uncommitted changes come along.")));
    QCOMPARE(sheet->cancelButton()->text(), QStringLiteral("Cancel"));
    QCOMPARE(sheet->createButton()->text(), QStringLiteral("Create"));
    QVERIFY(!sheet->createButton()->isEnabled());
    QTest::keyClicks(sheet->nameField(), QStringLiteral("   "));
    QVERIFY(!sheet->createButton()->isEnabled());
    shoot(sheet, QStringLiteral("git-new-branch"));

    // A name Git's rules refuse says why as it is typed, and Create waits for a good one.
    replaceText(sheet->nameField(), QStringLiteral("bad..name"));
    QCOMPARE(tab.workspace->newBranchName(), QStringLiteral("bad..name"));
    QCOMPARE(sheet->explanationLabel()->text(), QStringLiteral("Branch names can’t contain “..”."));
    QVERIFY(!sheet->createButton()->isEnabled());
    replaceText(sheet->nameField(), QStringLiteral("bad name"));
    QCOMPARE(sheet->explanationLabel()->text(), QStringLiteral("Branch names can’t contain spaces."));
    QVERIFY(!sheet->createButton()->isEnabled());
    shoot(sheet, QStringLiteral("git-new-branch-invalid"));

    // A name Git still refuses (the branch exists) keeps the sheet open with Git's reason.
    const QString current = tab.workspace->snapshot().status.branch.value_or(QStringLiteral("main"));
    replaceText(sheet->nameField(), current);
    QVERIFY(sheet->explanationLabel()->text().endsWith(QStringLiteral(". Uncommitted changes come along.")));
    QVERIFY(sheet->createButton()->isEnabled());
    sheet->createButton()->click();
    QVERIFY(tab.settled());
    QTRY_VERIFY(sheet->outcomeLabel()->isVisible());
    QVERIFY(!sheet->outcomeLabel()->text().isEmpty());
    QVERIFY(sheet->isVisible());
    shoot(sheet, QStringLiteral("git-new-branch-failed"));

    replaceText(sheet->nameField(), QStringLiteral(" feature/new-thing "));
    QVERIFY(!sheet->outcomeLabel()->isVisible());
    QVERIFY(sheet->createButton()->isEnabled());
    shoot(sheet, QStringLiteral("git-new-branch-named"));

    // While another operation waits for its answer, Create is refused and the sheet stays.
    tab.prompts.holdQuestions = true;
    fireAndForget(tab.workspace, tab.workspace->discardAll());
    QCOMPARE(tab.prompts.openQuestions(), 1);
    sheet->createButton()->click();
    QVERIFY(sheet->isVisible());
    QCOMPARE(tab.workspace->newBranchName(), QStringLiteral("feature/new-thing"));
    // An earlier failure is not shown again for a click that ran nothing.
    QVERIFY(!sheet->outcomeLabel()->isVisible());
    tab.prompts.answer(QStringLiteral("Cancel"));
    tab.prompts.holdQuestions = false;
    QVERIFY(tab.settled());

    sheet->createButton()->click();
    QTRY_VERIFY(!sheet);
    QVERIFY(tab.settled());
    QVERIFY(!tab.workspace->showingNewBranch());
    QCOMPARE(git(box, repo, {QStringLiteral("branch"), QStringLiteral("--show-current")}),
             QStringLiteral("feature/new-thing"));
    // The uncommitted change came along, and the draft starts empty next time.
    QCOMPARE(box.read(repo, QStringLiteral("README.md")), QByteArray("hello, work in progress\n"));
    QCOMPARE(tab.workspace->newBranchName(), QString());

    // Cancel closes and makes nothing.
    tab.workspace->setShowingNewBranch(true);
    sheet = tab.presenter->newBranchSheet();
    QTest::keyClicks(sheet->nameField(), QStringLiteral("never-made"));
    sheet->cancelButton()->click();
    QTRY_VERIFY(!sheet);
    QVERIFY(!tab.workspace->showingNewBranch());
    int code = 0;
    git(box, repo,
        {QStringLiteral("rev-parse"), QStringLiteral("--verify"), QStringLiteral("-q"),
         QStringLiteral("refs/heads/never-made")},
        &code);
    QVERIFY(code != 0);
}

void GitSheetsTest::setAsideAndRestoreKeepIncludedAndRemaining()
{
    GitSandbox box;
    const QString repo =
        box.makeRepo(QStringLiteral("site"), {{QStringLiteral("a.txt"), "one\ntwo\nthree\nfour\nfive\n"},
                                              {QStringLiteral("b.txt"), "bee\n"}});
    // a.txt partly included, b.txt included, c.txt new and remaining.
    box.write(repo, QStringLiteral("a.txt"), "ONE\ntwo\nthree\nfour\nfive\n");
    git(box, repo, {QStringLiteral("add"), QStringLiteral("a.txt")});
    box.write(repo, QStringLiteral("a.txt"), "ONE\ntwo\nthree\nfour\nFIVE\n");
    box.write(repo, QStringLiteral("b.txt"), "bee\nbuzz\n");
    git(box, repo, {QStringLiteral("add"), QStringLiteral("b.txt")});
    box.write(repo, QStringLiteral("c.txt"), "sea\n");
    const QString included = box.git(repo, {QStringLiteral("diff"), QStringLiteral("--cached")});
    const QString remaining = box.git(repo, {QStringLiteral("diff")});
    const QString status = box.git(repo, {QStringLiteral("status"), QStringLiteral("--porcelain")});
    QVERIFY(!included.isEmpty() && !remaining.isEmpty());
    Tab tab(box, repo);

    tab.workspace->setShowingStashManager(true);
    QPointer<GitStashSheet> sheet = tab.presenter->stashSheet();
    QVERIFY(sheet && sheet->isVisible());
    QCOMPARE(sheet->emptyLabel()->text(), QStringLiteral("Nothing is set aside."));
    QVERIFY(sheet->emptyLabel()->isVisible());
    QCOMPARE(sheet->setAsideButton()->text(), QStringLiteral("Set Aside"));
    QVERIFY(sheet->setAsideButton()->isEnabled());
    shoot(sheet, QStringLiteral("git-stash-sheet-empty"));

    sheet->setAsideButton()->click();
    QVERIFY(tab.settled());
    QCOMPARE(git(box, repo, {QStringLiteral("status"), QStringLiteral("--porcelain")}), QString());
    QTRY_COMPARE(sheet->restoreButtons().size(), 1);
    QVERIFY(!sheet->emptyLabel()->isVisible());
    // Nothing left to set aside.
    QVERIFY(!sheet->setAsideButton()->isEnabled());
    // A second, older entry shows how the list reads with several.
    box.write(repo, QStringLiteral("b.txt"), "bee\nhive\n");
    git(box, repo,
        {QStringLiteral("stash"), QStringLiteral("push"), QStringLiteral("-q"), QStringLiteral("-m"),
         QStringLiteral("Try a different greeting")});
    tab.refresh();
    QCOMPARE(sheet->restoreButtons().size(), 2);
    QCOMPARE(sheet->entryTexts().first(), QStringLiteral("Try a different greeting"));
    shoot(sheet, QStringLiteral("git-stash-sheet"));

    // Restore the one the sheet made (now the second): included and remaining come back exactly.
    sheet->restoreButtons().at(1)->click();
    QVERIFY(tab.settled());
    QVERIFY(!sheet->outcomeLabel()->isVisible());
    QCOMPARE(box.git(repo, {QStringLiteral("diff"), QStringLiteral("--cached")}), included);
    QCOMPARE(box.git(repo, {QStringLiteral("diff")}), remaining);
    QCOMPARE(box.git(repo, {QStringLiteral("status"), QStringLiteral("--porcelain")}), status);

    // Dropping asks first; declining keeps the entry.
    const int before = tab.prompts.asked.size();
    sheet->dropButtons().first()->click();
    QVERIFY(tab.settled());
    QCOMPARE(tab.prompts.asked.size(), before + 1);
    QCOMPARE(tab.prompts.asked.last().title, QStringLiteral("Drop set-aside changes?"));
    QVERIFY(tab.prompts.asked.last().text.contains(QStringLiteral("Try a different greeting")));
    QVERIFY(
        tab.prompts.asked.last().text.endsWith(QStringLiteral("” will be deleted. This can’t be undone.")));
    QCOMPARE(git(box, repo, {QStringLiteral("stash"), QStringLiteral("list")}).count('\n') + 1, 2);
    tab.prompts.answers.push_back(QStringLiteral("Drop"));
    sheet->dropButtons().first()->click();
    QVERIFY(tab.settled());
    QTRY_COMPARE(sheet->restoreButtons().size(), 1);
    QVERIFY(!git(box, repo, {QStringLiteral("stash"), QStringLiteral("list")})
                 .contains(QStringLiteral("greeting")));

    sheet->close();
    QTRY_VERIFY(!sheet);
    QVERIFY(!tab.workspace->showingStashManager());
}

void GitSheetsTest::identitySavedForTheRepositoryOrTheComputer()
{
    GitSandbox box;
    const QString repo = box.makeRepo(QStringLiteral("site"));
    QVERIFY(QFile::remove(QDir::home().filePath(QStringLiteral(".gitconfig"))));
    Tab tab(box, repo);
    QVERIFY(!tab.workspace->snapshot().identity.isComplete());

    tab.workspace->setShowingRepositoryTools(true);
    QPointer<GitRepositorySheet> sheet = tab.presenter->repositorySheet();
    QVERIFY(sheet && sheet->isVisible());
    QCOMPARE(sheet->computerScope()->text(), QStringLiteral("This computer"));
    QCOMPARE(sheet->repositoryScope()->text(), QStringLiteral("This repository"));
    QCOMPARE(sheet->saveIdentityButton()->text(), QStringLiteral("Save identity"));
    QVERIFY(!sheet->saveIdentityButton()->isEnabled());
    shoot(sheet, QStringLiteral("git-repository-sheet-no-identity"));
    QTest::keyClicks(sheet->nameField(), QStringLiteral("Ada Lovelace"));
    QVERIFY(!sheet->saveIdentityButton()->isEnabled());
    QTest::keyClicks(sheet->emailField(), QStringLiteral("  ada@example.com "));
    QVERIFY(sheet->saveIdentityButton()->isEnabled());
    QCOMPARE(tab.workspace->identityName(), QStringLiteral("Ada Lovelace"));

    sheet->repositoryScope()->click();
    sheet->saveIdentityButton()->click();
    QVERIFY(tab.settled());
    QCOMPARE(
        git(box, repo, {QStringLiteral("config"), QStringLiteral("--local"), QStringLiteral("user.name")}),
        QStringLiteral("Ada Lovelace"));
    QCOMPARE(
        git(box, repo, {QStringLiteral("config"), QStringLiteral("--local"), QStringLiteral("user.email")}),
        QStringLiteral("ada@example.com"));
    int code = 0;
    git(box, repo, {QStringLiteral("config"), QStringLiteral("--global"), QStringLiteral("user.name")},
        &code);
    QVERIFY(code != 0);
    QVERIFY(sheet->outcomeLabel()->isVisible());
    QVERIFY(tab.workspace->snapshot().identity.isComplete());
    // The choice stays where the person put it.
    QVERIFY(sheet->repositoryScope()->isChecked());
    shoot(sheet, QStringLiteral("git-repository-sheet-identity-saved"));

    replaceText(sheet->nameField(), QStringLiteral("Grace Hopper"));
    replaceText(sheet->emailField(), QStringLiteral("grace@example.com"));
    sheet->computerScope()->click();
    sheet->saveIdentityButton()->click();
    QVERIFY(tab.settled());
    QCOMPARE(
        git(box, repo, {QStringLiteral("config"), QStringLiteral("--global"), QStringLiteral("user.name")}),
        QStringLiteral("Grace Hopper"));
    QCOMPARE(
        git(box, repo, {QStringLiteral("config"), QStringLiteral("--global"), QStringLiteral("user.email")}),
        QStringLiteral("grace@example.com"));
    QVERIFY(QFile(QDir::home().filePath(QStringLiteral(".gitconfig"))).exists());
    // The repository's own setting was left alone.
    QCOMPARE(
        git(box, repo, {QStringLiteral("config"), QStringLiteral("--local"), QStringLiteral("user.name")}),
        QStringLiteral("Ada Lovelace"));
}

void GitSheetsTest::originAndProviderButtons()
{
    GitSandbox box;
    const QString repo = box.makeRepo(QStringLiteral("site"));
    const QString first = box.path(QStringLiteral("first.git"));
    const QString second = box.path(QStringLiteral("second.git"));
    for (const QString& bare : {first, second})
        git(box, box.root(), {QStringLiteral("init"), QStringLiteral("-q"), QStringLiteral("--bare"), bare});
    FakeApiServer api([](const FakeApiServer::Request& r) {
        if (r.path == QLatin1String("/user") && r.header("authorization") == "Bearer gho_sheets")
            return FakeApiServer::Response::json(200, "{\"login\":\"octo\"}");
        return FakeApiServer::Response::json(401, "{\"message\":\"Bad credentials\"}");
    });
    QVERIFY(api.start());
    qputenv("HALVIK_GITHUB_API", api.root().toUtf8());
    const auto unset = qScopeGuard([] { qunsetenv("HALVIK_GITHUB_API"); });
    Tab tab(box, repo);

    tab.workspace->setShowingRepositoryTools(true);
    QPointer<GitRepositorySheet> sheet = tab.presenter->repositorySheet();
    QVERIFY(sheet);
    QCOMPARE(sheet->originButton()->text(), QStringLiteral("Add origin"));
    QCOMPARE(sheet->originButton()->toolTip(), QStringLiteral("git remote set-url origin"));
    QVERIFY(!sheet->originButton()->isEnabled());
    QVERIFY(!sheet->openRemoteButton()->isVisible());
    const QMap<SourceControlProvider, QString> unconnected{
        {SourceControlProvider::github, QStringLiteral("Connect GitHub…")},
        {SourceControlProvider::gitlab, QStringLiteral("Connect GitLab…")},
        {SourceControlProvider::bitbucket, QStringLiteral("Connect Bitbucket…")},
        {SourceControlProvider::origin, QStringLiteral("Connect Cursor Origin…")}};
    for (auto it = unconnected.cbegin(); it != unconnected.cend(); ++it) {
        QCOMPARE(sheet->providerButton(it.key())->text(), it.value());
        QVERIFY(sheet->providerButton(it.key())->isVisible());
    }
    shoot(sheet, QStringLiteral("git-repository-sheet-no-remote"));

    // Without an account, a provider's button connects one first.
    sheet->providerButton(SourceControlProvider::gitlab)->click();
    QPointer<ConnectSheet> connect = tab.presenter->connectSheet();
    QVERIFY(connect && connect->isVisible());
    QCOMPARE(connect->providerPicker()->currentText(), QStringLiteral("GitLab"));
    QCOMPARE(connect->parentWidget(), static_cast<QWidget*>(sheet));
    shoot(connect, QStringLiteral("git-repository-sheet-connect-gitlab"));
    connect->reject();
    QTRY_VERIFY(!connect);
    QVERIFY(sheet->isVisible());

    // A connected account turns its button into creating the repository there.
    halvik::waitFor(
        tab.services.sourceControl().connect(SourceControlProvider::github, QStringLiteral("gho_sheets")));
    QCOMPARE(sheet->providerButton(SourceControlProvider::github)->text(),
             QStringLiteral("Create GitHub repository…"));
    QCOMPARE(sheet->providerButton(SourceControlProvider::gitlab)->text(), QStringLiteral("Connect GitLab…"));
    shoot(sheet, QStringLiteral("git-repository-sheet-connected"));
    sheet->providerButton(SourceControlProvider::github)->click();
    QPointer<CreateRepositorySheet> create = tab.presenter->createRepositorySheet();
    QVERIFY(create && create->isVisible());
    QCOMPARE(create->windowTitle(), QStringLiteral("Create GitHub repository"));
    QCOMPARE(create->ownerField()->text(), QStringLiteral("octo"));
    QCOMPARE(create->parentWidget(), static_cast<QWidget*>(sheet));
    shoot(create, QStringLiteral("git-repository-sheet-create-github"));
    create->reject();
    QTRY_VERIFY(!create);

    // The origin button wants a URL that is more than spaces, and sets the real remote.
    QTest::keyClicks(sheet->remoteField(), QStringLiteral("   "));
    QVERIFY(!sheet->originButton()->isEnabled());
    replaceText(sheet->remoteField(), first + QStringLiteral("  "));
    QVERIFY(sheet->originButton()->isEnabled());
    sheet->originButton()->click();
    QVERIFY(tab.settled());
    QCOMPARE(git(box, repo, {QStringLiteral("remote"), QStringLiteral("get-url"), QStringLiteral("origin")}),
             first);
    QCOMPARE(sheet->originButton()->text(), QStringLiteral("Update origin URL"));
    QVERIFY(!sheet->providerButton(SourceControlProvider::github)->isVisible());
    QVERIFY(sheet->openRemoteButton()->isVisible());
    QVERIFY(sheet->remoteLabel()->text().contains(QStringLiteral("first.git")));

    replaceText(sheet->remoteField(), second);
    sheet->remoteField()->setFocus();
    QTest::keyClick(sheet->remoteField(), Qt::Key_Return);
    QVERIFY(tab.settled());
    QCOMPARE(git(box, repo, {QStringLiteral("remote"), QStringLiteral("get-url"), QStringLiteral("origin")}),
             second);
    QVERIFY(sheet->isVisible());

    // A hosted remote is named by its slug and opens on its web page.
    replaceText(sheet->remoteField(), QStringLiteral("https://github.com/acme/my-site.git"));
    sheet->originButton()->click();
    QVERIFY(tab.settled());
    QVERIFY(sheet->remoteLabel()->text().contains(QStringLiteral(">acme/my-site</a>")));
    QVERIFY(sheet->openRemoteButton()->isEnabled());
    sheet->openRemoteButton()->click();
    QCOMPARE(tab.opened, QList<QUrl>{QUrl(QStringLiteral("https://github.com/acme/my-site"))});
    shoot(sheet, QStringLiteral("git-repository-sheet-remote"));
}

void GitSheetsTest::recoveryActionsAskFirst()
{
    GitSandbox box;
    const QString repo = box.makeRepo(QStringLiteral("site"));
    box.write(repo, QStringLiteral("notes.txt"), "second\n");
    box.commitAll(repo, QStringLiteral("Second change"));
    const auto dirty = [&] {
        box.write(repo, QStringLiteral("README.md"), "edited\n");
        box.write(repo, QStringLiteral("scratch.txt"), "new\n");
    };
    const auto porcelain = [&] {
        return git(box, repo, {QStringLiteral("status"), QStringLiteral("--porcelain")});
    };
    const auto commits = [&] {
        return git(box, repo,
                   {QStringLiteral("rev-list"), QStringLiteral("--count"), QStringLiteral("HEAD")});
    };
    dirty();
    const QString dirtyStatus = porcelain();
    Tab tab(box, repo);
    tab.workspace->setShowingRepositoryTools(true);
    QPointer<GitRepositorySheet> sheet = tab.presenter->repositorySheet();
    QCOMPARE(sheet->setAsideButton()->text(), QStringLiteral("Set Changes Aside"));
    QCOMPARE(sheet->undoButton()->text(), QStringLiteral("Undo Last Commit…"));
    QCOMPARE(sheet->discardButton()->text(), QStringLiteral("Discard All Changes…"));

    // Declined: nothing changes and the sheet says nothing.
    sheet->discardButton()->click();
    QVERIFY(tab.settled());
    QCOMPARE(tab.prompts.asked.last().title, QStringLiteral("Discard all changes?"));
    QCOMPARE(tab.prompts.asked.last().buttons.first(), QStringLiteral("Discard All"));
    QCOMPARE(porcelain(), dirtyStatus);
    QVERIFY(!sheet->outcomeLabel()->isVisible());
    tab.prompts.answers.push_back(QStringLiteral("Discard All"));
    sheet->discardButton()->click();
    QVERIFY(tab.settled());
    QCOMPARE(porcelain(), QString());
    QVERIFY(!sheet->discardButton()->isEnabled());
    QVERIFY(!sheet->setAsideButton()->isEnabled());

    sheet->undoButton()->click();
    QVERIFY(tab.settled());
    QCOMPARE(tab.prompts.asked.last().title, QStringLiteral("Undo this commit?"));
    QCOMPARE(tab.prompts.asked.last().text,
             QStringLiteral("This adds a new commit that reverses “Second change”. Nothing is deleted."));
    QCOMPARE(commits(), QStringLiteral("2"));
    tab.prompts.answers.push_back(QStringLiteral("Undo"));
    sheet->undoButton()->click();
    QVERIFY(tab.settled());
    QCOMPARE(commits(), QStringLiteral("3"));
    QVERIFY(!QFile::exists(repo + QStringLiteral("/notes.txt")));

    // Setting aside asks nothing: it takes nothing away for good.
    dirty();
    tab.refresh();
    QVERIFY(sheet->setAsideButton()->isEnabled());
    const int asked = tab.prompts.asked.size();
    sheet->setAsideButton()->click();
    QVERIFY(tab.settled());
    QCOMPARE(tab.prompts.asked.size(), asked);
    QCOMPARE(porcelain(), QString());
    QCOMPARE(git(box, repo, {QStringLiteral("stash"), QStringLiteral("list")}).count('\n') + 1, 1);
    QVERIFY(sheet->outcomeLabel()->isVisible());
    shoot(sheet, QStringLiteral("git-repository-sheet-recovered"));
}

void GitSheetsTest::unsafeActionsWaitForTheRebase()
{
    GitSandbox box;
    const QString repo = box.makeRepo(QStringLiteral("site"));
    // One change set aside before the rebase stops on a conflict.
    box.write(repo, QStringLiteral("scratch.txt"), "new\n");
    git(box, repo,
        {QStringLiteral("stash"), QStringLiteral("push"), QStringLiteral("-q"), QStringLiteral("-u")});
    git(box, repo,
        {QStringLiteral("switch"), QStringLiteral("-q"), QStringLiteral("-c"), QStringLiteral("other")});
    box.write(repo, QStringLiteral("README.md"), "theirs\n");
    box.commitAll(repo, QStringLiteral("Theirs"));
    git(box, repo, {QStringLiteral("switch"), QStringLiteral("-q"), QStringLiteral("main")});
    box.write(repo, QStringLiteral("README.md"), "ours\n");
    box.commitAll(repo, QStringLiteral("Ours"));
    int code = 0;
    box.git(repo, {QStringLiteral("rebase"), QStringLiteral("other")}, &code);
    QVERIFY(code != 0);
    box.write(repo, QStringLiteral("scratch.txt"), "again\n");
    Tab tab(box, repo);
    QVERIFY(tab.workspace->snapshot().status.inProgressRebase);

    // No branch can be chosen, by click or by Return.
    tab.workspace->setShowingBranchPicker(true);
    QPointer<GitBranchPopover> popover = tab.presenter->branchPopover();
    QListWidgetItem* other = branchRow(popover, QStringLiteral("other"));
    QVERIFY(other);
    QVERIFY(!(other->flags() & Qt::ItemIsEnabled));
    QVERIFY(popover->rebaseNote()->isVisibleTo(popover));
    clickRow(popover, other);
    QTest::keyClick(popover->searchField(), Qt::Key_Return);
    QVERIFY(!tab.workspace->isOperating());
    shoot(popover, QStringLiteral("git-branch-popover-rebase"));
    popover->close();
    QTRY_VERIFY(!popover);

    tab.workspace->setShowingRepositoryTools(true);
    QPointer<GitRepositorySheet> tools = tab.presenter->repositorySheet();
    QVERIFY(!tools->discardButton()->isEnabled());
    QVERIFY(!tools->undoButton()->isEnabled());
    QVERIFY(!tools->setAsideButton()->isEnabled());
    // Naming and pointing the repository stay safe.
    QVERIFY(tools->saveIdentityButton()->isEnabled());
    tools->reject();
    QTRY_VERIFY(!tools);

    tab.workspace->setShowingStashManager(true);
    QPointer<GitStashSheet> stash = tab.presenter->stashSheet();
    QCOMPARE(stash->restoreButtons().size(), 1);
    QVERIFY(!stash->restoreButtons().first()->isEnabled());
    QVERIFY(!stash->setAsideButton()->isEnabled());
    QVERIFY(stash->dropButtons().first()->isEnabled());
}

void GitSheetsTest::flagsOpenAndCloseTheSheets()
{
    GitSandbox box;
    const QString repo = box.makeRepo(QStringLiteral("site"));
    Tab tab(box, repo);

    // The flag closes what it opened, and closing the sheet clears the flag.
    tab.workspace->setShowingStashManager(true);
    QPointer<GitStashSheet> stash = tab.presenter->stashSheet();
    QVERIFY(stash && stash->isVisible());
    QVERIFY(stash->isModal());
    tab.workspace->setShowingStashManager(false);
    QTRY_VERIFY(!stash);
    tab.workspace->setShowingStashManager(true);
    stash = tab.presenter->stashSheet();
    QVERIFY(stash);
    stash->reject();
    QTRY_VERIFY(!stash);
    QVERIFY(!tab.workspace->showingStashManager());

    // Creating a repository without an account connects one first; giving up clears the flag.
    tab.workspace->setShowingCreateGitHubRepo(true);
    QPointer<ConnectSheet> connect = tab.presenter->connectSheet();
    QVERIFY(connect && connect->isVisible());
    QCOMPARE(connect->providerPicker()->currentText(), QStringLiteral("GitHub"));
    QVERIFY(!tab.presenter->createRepositorySheet());
    connect->reject();
    QTRY_VERIFY(!connect);
    QVERIFY(!tab.workspace->showingCreateGitHubRepo());

    // With an account, the flag opens the create sheet for it.
    tab.services.store().upsertSourceControl(
        {QStringLiteral("gitlab"), QStringLiteral("gina"), QDateTime::currentDateTimeUtc()});
    tab.workspace->setShowingCreateGitHubRepo(true);
    QPointer<CreateRepositorySheet> create = tab.presenter->createRepositorySheet();
    QVERIFY(create && create->isVisible());
    QCOMPARE(create->windowTitle(), QStringLiteral("Create GitLab repository"));
    create->reject();
    QTRY_VERIFY(!create);
    QVERIFY(!tab.workspace->showingCreateGitHubRepo());

    // Sheets go with their workspace.
    tab.workspace->setShowingRepositoryTools(true);
    tab.workspace->setShowingNewBranch(true);
    QPointer<GitRepositorySheet> tools = tab.presenter->repositorySheet();
    QPointer<GitNewBranchSheet> branch = tab.presenter->newBranchSheet();
    QVERIFY(tools && branch);
    QPointer<GitSheetPresenter> presenter = tab.presenter;
    delete presenter;
    QVERIFY(!tools && !branch);
    QVERIFY(tab.workspace->showingRepositoryTools());
}

HALVIK_TEST_MAIN(GitSheetsTest)
#include "tst_gitsheets.moc"
