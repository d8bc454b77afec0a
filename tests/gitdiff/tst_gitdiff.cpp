#include "FakePrompts.h"
#include "GitSandbox.h"
#include "Screenshots.h"
#include "TestMain.h"

#include "WaitFor.h"
#include "app/GitWorkspace.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "views/git/GitDiffModel.h"
#include "views/git/GitDiffPane.h"
#include "views/git/GitDiffScroll.h"
#include "views/git/GitImagePreview.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QScrollBar>

using namespace halvik;
using namespace halvik::gitcore;
using namespace halvik::views;
using halvik::test::FakePrompts;
using halvik::test::GitSandbox;

namespace {

// A workspace over one real repository with its diff pane on screen.
struct Fixture
{
    Fixture(GitSandbox& box, const QString& repo, GitDiffPane::Mode mode = GitDiffPane::Mode::changes)
        : secrets(box.path("secrets.json")), store(secrets, box.path("store")),
          site(std::make_shared<Site>(QStringLiteral("site"), repo)),
          workspace(service, store, prompts, site), pane(workspace, mode)
    {
        pane.resize(820, 560);
        pane.show();
        halvik::waitFor(workspace.refresh(false));
    }
    ~Fixture()
    {
        workspace.stop();
        if (!QTest::qWaitFor([this] { return workspace.loadsInFlight() == 0; }, 30000))
            qFatal("A workspace load never ended");
    }

    // Waits until no operation, refresh or diff load is running.
    bool settle()
    {
        return QTest::qWaitFor(
            [this] {
                return !workspace.isOperating() && !workspace.isRefreshing() && !workspace.isLoadingDiff();
            },
            30000);
    }
    // Shows `path` in `scope` and waits for its diff.
    bool show(const QString& path, GitDiffScope scope)
    {
        workspace.selectFiles({path});
        workspace.setDiffScope(scope);
        return QTest::qWaitFor(
            [&] {
                const auto& diff = workspace.loadedDiff();
                return !workspace.isLoadingDiff() && diff && diff->path == path && diff->scope == scope;
            },
            30000);
    }
    GitDiffScroll* scroll() const { return pane.scroll(); }
    GitDiffModel* model() const { return pane.scroll()->diffModel(); }

    QPoint rowCentre(int row) const
    {
        scroll()->scrollTo(model()->index(row));
        return scroll()->visualRect(model()->index(row)).center();
    }
    // The row of the first line of hunk `hunk` whose text is `text`.
    int rowOf(int hunk, const QString& text) const
    {
        for (const auto& line : model()->hunk(hunk).lines)
            if (line.text == text)
                return model()->rowOfLine(hunk, line.id);
        return -1;
    }
    void click(int row, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(scroll()->viewport(), Qt::LeftButton, modifiers, rowCentre(row));
    }
    // Presses the header button of `hunk` labelled `label`; false when there is none or it is off.
    bool press(int hunk, const QString& label)
    {
        scroll()->scrollTo(model()->index(model()->headerRow(hunk)), QAbstractItemView::PositionAtTop);
        for (const GitHunkButton& button : scroll()->headerButtons(hunk)) {
            if (button.label == label && button.enabled) {
                QTest::mouseClick(scroll()->viewport(), Qt::LeftButton, {}, button.rect.center());
                return true;
            }
        }
        return false;
    }
    QStringList labels(int hunk) const
    {
        QStringList result;
        for (const GitHunkButton& button : scroll()->headerButtons(hunk))
            result.append(button.label);
        return result;
    }

    ProcessRunner runner;
    GitService service{runner};
    SecretStore secrets;
    SiteStore store;
    FakePrompts prompts;
    SitePtr site;
    GitWorkspace workspace;
    GitDiffPane pane;
};

QByteArray numbered(int count, const QMap<int, QByteArray>& replaced = {},
                    const QMap<int, QByteArray>& inserted = {})
{
    QByteArray text;
    for (int i = 1; i <= count; ++i) {
        text += replaced.value(i, "line " + QByteArray::number(i)) + '\n';
        if (inserted.contains(i))
            text += inserted.value(i) + '\n';
    }
    return text;
}

// The added and removed lines of a `git diff` output, in order.
QStringList changedLines(const QString& diff)
{
    QStringList lines;
    for (const QString& line : diff.split('\n'))
        if ((line.startsWith('+') || line.startsWith('-')) && !line.startsWith("+++") &&
            !line.startsWith("---"))
            lines.append(line);
    return lines;
}

// 40 lines, committed; then line 3 edited, a line added after 4 and line 30 edited: two hunks.
QString twoHunkRepo(GitSandbox& box)
{
    const QString repo = box.makeRepo("repo", {{"notes.txt", numbered(40)}});
    box.write(repo, "notes.txt", numbered(40, {{3, "line three"}, {30, "line thirty"}}, {{4, "after four"}}));
    return repo;
}

struct Run
{
    int code = -1;
    QString out;
    QString err;
};

Run runHalvik(const QStringList& args)
{
    QProcess process;
    process.start(halvik::test::halvikBinary(), args);
    process.waitForFinished(60000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class GitDiffTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { GitSandbox::configureIdentity(); }

    // Every kind of diff with its own sentence, and the lines of a text diff.
    void everyKindShowsItsText()
    {
        GitSandbox box;
        QImage picture(48, 32, QImage::Format_ARGB32);
        picture.fill(QColor(40, 120, 220, 200));
        const QString repo =
            box.makeRepo("repo", {{"a.txt", numbered(12)}, {"blob.bin", QByteArray("\0\1\2", 3)}});
        QVERIFY(picture.save(repo + "/logo.png"));
        box.commitAll(repo, "Add files");
        box.write(repo, "a.txt", numbered(12, {{6, "six"}}));
        box.write(repo, "blob.bin", QByteArray("\0\3\4\5", 4));
        picture.fill(QColor(220, 80, 40));
        QVERIFY(picture.save(repo + "/logo.png"));
        box.write(repo, "huge.txt", numbered(4200));
        Fixture f(box, repo);

        QCOMPARE(f.pane.message(), QStringLiteral("Select a file to see its diff."));
        f.workspace.selectFiles({});
        QTRY_COMPARE(f.pane.message(), QStringLiteral("Select a file to see its diff."));
        QVERIFY(halvik::test::saveLightAndDark(&f.pane, "gitdiff-no-selection"));

        QVERIFY(f.show("a.txt", GitDiffScope::included));
        QCOMPARE(f.pane.message(), QStringLiteral("No changes in this scope."));
        QVERIFY(f.pane.scopeButton(GitDiffScope::included)->isChecked());
        QCOMPARE(f.pane.scopeButton(GitDiffScope::included)->toolTip(),
                 QStringLiteral("Included is the index (git diff --cached). Remaining is the worktree."));
        QVERIFY(halvik::test::saveLightAndDark(&f.pane, "gitdiff-empty"));

        // The Scope picker switches the workspace to the worktree's side.
        f.pane.scopeButton(GitDiffScope::remaining)->click();
        QCOMPARE(f.workspace.diffScope(), GitDiffScope::remaining);
        QTRY_VERIFY(f.pane.message().isEmpty());
        QVERIFY(f.pane.scroll()->isVisible());
        QCOMPARE(f.model()->hunkCount(), 1);
        QCOMPARE(f.labels(0), (QStringList{"Include", "Discard"}));
        QVERIFY(halvik::test::saveLightAndDark(&f.pane, "gitdiff-text"));

        QVERIFY(f.show("huge.txt", GitDiffScope::remaining));
        QCOMPARE(f.pane.message(),
                 QStringLiteral("This diff is too large to show here. Open the file in your editor."));
        QVERIFY(halvik::test::saveLightAndDark(&f.pane, "gitdiff-too-large"));

        QVERIFY(f.show("blob.bin", GitDiffScope::remaining));
        QCOMPARE(f.pane.message(),
                 QStringLiteral("Binary file \u2014 whole-file include, exclude, or discard only."));
        QVERIFY(halvik::test::saveLightAndDark(&f.pane, "gitdiff-binary"));

        QVERIFY(f.show("logo.png", GitDiffScope::remaining));
        QCOMPARE(f.workspace.loadedDiff()->kind, GitDiffKind::image);
        QTRY_COMPARE(f.pane.imagePreview()->imageSize(), QSize(48, 32));
        QVERIFY(f.pane.imagePreview()->isVisible());
        QCOMPARE(f.pane.message(), QString());
        QVERIFY(halvik::test::saveLightAndDark(&f.pane, "gitdiff-image"));

        // Each scope previews its own picture: the staged one from the index, the worktree's from
        // the disk, a commit's from that commit.
        box.git(repo, {"add", "logo.png"});
        QVERIFY(QImage(24, 16, QImage::Format_ARGB32).save(repo + "/logo.png"));
        halvik::waitFor(f.workspace.refresh(false));
        QVERIFY(f.show("logo.png", GitDiffScope::included));
        QTRY_COMPARE(f.pane.imagePreview()->imageSize(), QSize(48, 32));
        QCOMPARE(f.pane.imagePreview()->path(), QStringLiteral(":logo.png"));
        QVERIFY(f.show("logo.png", GitDiffScope::remaining));
        QTRY_COMPARE(f.pane.imagePreview()->imageSize(), QSize(24, 16));
        f.workspace.selectCommit(box.git(repo, {"rev-parse", "HEAD"}).trimmed());
        const QImage committed =
            QImage::fromData(halvik::waitFor(f.workspace.storedFile("logo.png", GitDiffScope::commit)));
        QCOMPARE(committed.size(), QSize(48, 32));
        QCOMPARE(committed.pixelColor(0, 0).blue(), 220); // the first, blue version
        QVERIFY(halvik::waitFor(f.workspace.storedFile("gone.png", GitDiffScope::included)).isEmpty());
        // Gone from the disk: nothing to preview.
        QFile::remove(repo + "/logo.png");
        f.pane.imagePreview()->showFile(repo + "/logo.png");
        QCOMPARE(f.pane.message(), QStringLiteral("Image preview isn\u2019t available."));

        // Without a Git to ask, the file cannot be shown.
        f.service.setGitCandidates(QStringList{box.path("no-git-here")});
        QVERIFY(f.show("a.txt", GitDiffScope::remaining));
        QCOMPARE(f.workspace.loadedDiff()->kind, GitDiffKind::missing);
        QCOMPARE(f.pane.message(), QStringLiteral("This file isn\u2019t available."));
        QVERIFY(halvik::test::saveLightAndDark(&f.pane, "gitdiff-missing"));
    }

    void hunksIncludeAndExclude()
    {
        GitSandbox box;
        const QString repo = twoHunkRepo(box);
        Fixture f(box, repo);
        QVERIFY(f.show("notes.txt", GitDiffScope::remaining));
        QCOMPARE(f.model()->hunkCount(), 2);

        QVERIFY(f.press(1, "Include"));
        QVERIFY(f.settle());
        QCOMPARE(changedLines(box.git(repo, {"diff", "--cached"})),
                 (QStringList{"-line 30", "+line thirty"}));
        QCOMPARE(*f.workspace.notice(), QStringLiteral("Include hunk finished"));

        // The file is now mixed: its included side offers Exclude only.
        QVERIFY(f.show("notes.txt", GitDiffScope::included));
        QCOMPARE(f.model()->hunkCount(), 1);
        QCOMPARE(f.labels(0), QStringList{"Exclude"});
        QVERIFY(f.press(0, "Exclude"));
        QVERIFY(f.settle());
        QCOMPARE(box.git(repo, {"diff", "--cached"}), QString());
        QVERIFY(f.prompts.asked.isEmpty());
    }

    // Lines picked by click, shift-click, ctrl-click and drag; only they move.
    void chosenLinesIncludeAndExclude()
    {
        GitSandbox box;
        const QString repo = twoHunkRepo(box);
        Fixture f(box, repo);
        QVERIFY(f.show("notes.txt", GitDiffScope::remaining));
        const int removed = f.rowOf(0, "-line 3");
        const int added = f.rowOf(0, "+line three");
        const int inserted = f.rowOf(0, "+after four");
        QVERIFY(removed > 0 && added > 0 && inserted > 0);

        // A click picks one line; shift-click reaches the next; the headers say so.
        f.click(added);
        QCOMPARE(f.scroll()->selectedLineIds(0).size(), 1);
        QCOMPARE(f.labels(0), (QStringList{"Include Lines", "Discard Lines"}));
        QCOMPARE(f.labels(1), (QStringList{"Include", "Discard"}));
        f.click(inserted, Qt::ShiftModifier);
        QCOMPARE(f.scroll()->selectedLineIds(0).size(), 2); // context rows between are never picked
        // Ctrl-click drops one again; a drag picks a run.
        f.click(added, Qt::ControlModifier);
        QCOMPARE(f.scroll()->selectedLineIds(0).size(), 1);
        QTest::mousePress(f.scroll()->viewport(), Qt::LeftButton, {}, f.rowCentre(removed));
        QTest::mouseMove(f.scroll()->viewport(), f.rowCentre(added));
        QTest::mouseRelease(f.scroll()->viewport(), Qt::LeftButton, {}, f.rowCentre(added));
        QCOMPARE(f.scroll()->selectedLineIds(0).size(), 2);
        QVERIFY(halvik::test::saveLightAndDark(&f.pane, "gitdiff-lines-selected"));

        // Including just the addition: line 3 stays, "line three" joins it.
        f.click(added);
        QVERIFY(f.press(0, "Include Lines"));
        QVERIFY(f.settle());
        QCOMPARE(*f.workspace.notice(), QStringLiteral("Include lines finished"));
        QCOMPARE(changedLines(box.git(repo, {"diff", "--cached"})), QStringList{"+line three"});
        QCOMPARE(box.read(repo, "notes.txt"),
                 numbered(40, {{3, "line three"}, {30, "line thirty"}}, {{4, "after four"}}));

        // Then the insertion and the removal, picked together.
        QVERIFY(f.show("notes.txt", GitDiffScope::remaining));
        f.click(f.rowOf(0, "-line 3"));
        f.click(f.rowOf(0, "+after four"), Qt::ControlModifier);
        QVERIFY(f.press(0, "Include Lines"));
        QVERIFY(f.settle());
        QCOMPARE(changedLines(box.git(repo, {"diff", "--cached"})),
                 (QStringList{"-line 3", "+line three", "+after four"}));

        // Excluding one added line from the index leaves the others staged.
        QVERIFY(f.show("notes.txt", GitDiffScope::included));
        f.click(f.rowOf(0, "+line three"));
        QCOMPARE(f.labels(0), QStringList{"Exclude Lines"});
        QVERIFY(f.press(0, "Exclude Lines"));
        QVERIFY(f.settle());
        QCOMPARE(changedLines(box.git(repo, {"diff", "--cached"})), (QStringList{"-line 3", "+after four"}));
        QVERIFY(f.prompts.asked.isEmpty());
    }

    // Discarding asks once; Cancel leaves every byte where it was.
    void discardAsksFirst()
    {
        GitSandbox box;
        const QString repo = twoHunkRepo(box);
        Fixture f(box, repo);
        QVERIFY(f.show("notes.txt", GitDiffScope::remaining));
        const QByteArray before = box.read(repo, "notes.txt");

        f.prompts.answers = {"Cancel"};
        QVERIFY(f.press(1, "Discard"));
        QVERIFY(f.settle());
        QCOMPARE(f.prompts.asked.size(), 1);
        QCOMPARE(f.prompts.asked[0].title, QStringLiteral("Discard this hunk?"));
        QCOMPARE(f.prompts.asked[0].text,
                 QStringLiteral("The selected lines go back to HEAD. This can\u2019t be undone."));
        QCOMPARE(f.prompts.asked[0].buttons, (QStringList{"Discard", "Cancel"}));
        QCOMPARE(box.read(repo, "notes.txt"), before);

        f.prompts.answers = {"Discard"};
        QVERIFY(f.press(1, "Discard"));
        QVERIFY(f.settle());
        QCOMPARE(f.prompts.asked.size(), 2);
        QCOMPARE(box.read(repo, "notes.txt"), numbered(40, {{3, "line three"}}, {{4, "after four"}}));

        // Lines: the added "after four" goes, the edit of line 3 stays.
        QVERIFY(f.show("notes.txt", GitDiffScope::remaining));
        f.click(f.rowOf(0, "+after four"));
        f.prompts.answers = {"Cancel"};
        QVERIFY(f.press(0, "Discard Lines"));
        QVERIFY(f.settle());
        QCOMPARE(f.prompts.asked.size(), 3);
        QCOMPARE(f.prompts.asked[2].title, QStringLiteral("Discard the selected lines?"));
        QCOMPARE(box.read(repo, "notes.txt"), numbered(40, {{3, "line three"}}, {{4, "after four"}}));
        f.prompts.answers = {"Discard"};
        QVERIFY(f.press(0, "Discard Lines"));
        QVERIFY(f.settle());
        QCOMPARE(f.prompts.asked.size(), 4);
        QCOMPARE(box.read(repo, "notes.txt"), numbered(40, {{3, "line three"}}));
        QCOMPARE(box.git(repo, {"diff", "--cached"}), QString());
    }

    // Screen readers hear what changed; numbers sit in the gutter; arrows walk the hunks.
    void linesReadAloudAndKeyboard()
    {
        GitSandbox box;
        const QString repo = twoHunkRepo(box);
        Fixture f(box, repo);
        QVERIFY(f.show("notes.txt", GitDiffScope::remaining));
        const QModelIndex added = f.model()->index(f.rowOf(0, "+line three"));
        const QModelIndex removed = f.model()->index(f.rowOf(0, "-line 3"));
        const QModelIndex context = f.model()->index(f.rowOf(0, " line 2"));
        QCOMPARE(added.data(Qt::AccessibleTextRole).toString(), QStringLiteral("Added: line three"));
        QCOMPARE(removed.data(Qt::AccessibleTextRole).toString(), QStringLiteral("Removed: line 3"));
        QCOMPARE(context.data(Qt::AccessibleTextRole).toString(), QStringLiteral("line 2"));
        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(f.scroll());
        QVERIFY(view);
        bool heard = false;
        for (int i = 0; i < view->childCount(); ++i)
            heard = heard || view->child(i)->text(QAccessible::Name) == QStringLiteral("Added: line three");
        QVERIFY(heard);
        const auto* line = f.model()->line(added.row());
        QCOMPARE(line->newNumber, 3);
        QVERIFY(!line->oldNumber);
        QCOMPARE(f.model()->line(removed.row())->oldNumber, 3);

        f.scroll()->setFocus();
        QTRY_VERIFY(f.scroll()->hasFocus());
        QTest::keyClick(f.scroll(), Qt::Key_Down);
        QCOMPARE(f.scroll()->currentHunk(), 1);
        QTest::keyClick(f.scroll(), Qt::Key_Down);
        QCOMPARE(f.scroll()->currentHunk(), 1);
        QTest::keyClick(f.scroll(), Qt::Key_Up);
        QCOMPARE(f.scroll()->currentHunk(), 0);
        f.click(added.row());
        QTest::keyClick(f.scroll(), Qt::Key_Escape);
        QVERIFY(f.scroll()->selectedLineIds(0).isEmpty());

        // Lines picked and staged without the mouse: Shift+Down walks the changed lines of the
        // hunk, Space drops the one at the cursor, Return presses Include Lines.
        QTest::keyClick(f.scroll(), Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(f.scroll()->lineCursor(), removed.row());
        QTest::keyClick(f.scroll(), Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(f.scroll(), Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(f.scroll()->selectedLineIds(0).size(), 3);
        QTest::keyClick(f.scroll(), Qt::Key_Space);
        QCOMPARE(f.scroll()->selectedLineIds(0).size(), 2);
        QCOMPARE(f.labels(0).first(), QStringLiteral("Include Lines"));
        QTest::keyClick(f.scroll(), Qt::Key_Return);
        QVERIFY(f.settle());
        QCOMPARE(changedLines(box.git(repo, {"diff", "--cached"})), (QStringList{"-line 3", "+line three"}));
        // Delete asks before it discards the current hunk.
        QVERIFY(f.show("notes.txt", GitDiffScope::remaining));
        f.scroll()->setFocus();
        QTest::keyClick(f.scroll(), Qt::Key_Down);
        f.prompts.answers = {"Cancel"};
        QTest::keyClick(f.scroll(), Qt::Key_Delete);
        QVERIFY(f.settle());
        QCOMPARE(f.prompts.asked.size(), 1);
        QCOMPARE(f.prompts.asked[0].title, QStringLiteral("Discard this hunk?"));
    }

    // Long lines scroll sideways with the hunk buttons staying in view; tabs show as spaces.
    void longLinesScrollSideways()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"src/app.php", "<?php\n\treturn [];\n"}});
        const QByteArray longLine = "$message = '" + QByteArray(280, 'x') + "';";
        box.write(repo, "src/app.php", "<?php\n\treturn ['caf\xc3\xa9' => true];\n" + longLine + "\n");
        Fixture f(box, repo);
        QVERIFY(f.show("src/app.php", GitDiffScope::remaining));
        const int tabbed = f.rowOf(0, QString::fromUtf8("+\treturn ['caf\xc3\xa9' => true];"));
        QVERIFY(tabbed > 0);
        QCOMPARE(f.model()->index(tabbed).data().toString(),
                 QString::fromUtf8("    return ['caf\xc3\xa9' => true];"));
        QScrollBar* sideways = f.scroll()->horizontalScrollBar();
        QTRY_VERIFY(sideways->maximum() > 0);
        sideways->setValue(sideways->maximum());
        const QList<GitHunkButton> buttons = f.scroll()->headerButtons(0);
        QVERIFY(f.scroll()->viewport()->rect().contains(buttons.last().rect));
        QVERIFY(halvik::test::saveLightAndDark(&f.pane, "gitdiff-long-lines"));
        // A narrow window keeps the Scope picker whole.
        f.pane.resize(380, 400);
        QAbstractButton* remaining = f.pane.scopeButton(GitDiffScope::remaining);
        QTRY_VERIFY(remaining->mapTo(&f.pane, remaining->rect().bottomRight()).x() < 380);
        QVERIFY(halvik::test::saveLightAndDark(&f.pane, "gitdiff-narrow"));
        sideways->setValue(0);
    }

    // While a rebase waits on a conflict nothing may be thrown away; staging still works.
    void discardWaitsForTheRebase()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("repo", {{"a.txt", "base\n"}, {"b.txt", numbered(10)}});
        box.git(repo, {"checkout", "-q", "-b", "feature"});
        box.write(repo, "a.txt", "feature\n");
        box.commitAll(repo, "Feature");
        box.git(repo, {"checkout", "-q", "main"});
        box.write(repo, "a.txt", "main\n");
        box.commitAll(repo, "Main");
        box.git(repo, {"checkout", "-q", "feature"});
        int code = 0;
        box.git(repo, {"rebase", "main"}, &code);
        QVERIFY(code != 0);
        box.write(repo, "b.txt", numbered(10, {{5, "five"}}));
        Fixture f(box, repo);
        QVERIFY(f.workspace.snapshot().status.inProgressRebase);
        QVERIFY(f.show("b.txt", GitDiffScope::remaining));
        const QList<GitHunkButton> buttons = f.scroll()->headerButtons(0);
        QCOMPARE(buttons.size(), 2);
        QVERIFY(buttons[0].enabled);
        QCOMPARE(buttons[1].label, QStringLiteral("Discard"));
        QVERIFY(!buttons[1].enabled);
        QVERIFY(!f.press(0, "Discard"));
        QVERIFY(f.prompts.asked.isEmpty());
        // The conflicted file says what to do rather than that nothing changed.
        QVERIFY(f.show("a.txt", GitDiffScope::remaining));
        QCOMPARE(f.pane.message(), QStringLiteral("This file has unresolved conflicts. Resolve the marked "
                                                  "sections in your editor, then choose Mark Resolved."));
        QVERIFY(halvik::test::saveLightAndDark(&f.pane, "gitdiff-conflicted"));
        box.git(repo, {"rebase", "--abort"});
    }

    // A commit's diff is read-only: no Scope picker, no buttons.
    void commitDiffIsReadOnly()
    {
        GitSandbox box;
        const QString repo = twoHunkRepo(box);
        box.commitAll(repo, "Edit notes");
        Fixture f(box, repo, GitDiffPane::Mode::commit);
        QCOMPARE(f.pane.message(), QStringLiteral("Select a file to see its diff."));
        f.workspace.setListTab(GitListTab::history);
        QTRY_VERIFY(f.workspace.loadedDiff() && f.workspace.loadedDiff()->scope == GitDiffScope::commit);
        QTRY_VERIFY(f.pane.message().isEmpty());
        QCOMPARE(f.model()->hunkCount(), 2);
        QVERIFY(f.labels(0).isEmpty());
        QVERIFY(!f.pane.scopeButton(GitDiffScope::included)->isVisible());
        QVERIFY(halvik::test::saveLightAndDark(&f.pane, "gitdiff-commit"));
    }

    // The same line staging from the command line, lines named by their numbers.
    void commandLineStagesLines()
    {
        GitSandbox box;
        const QString repo = twoHunkRepo(box);
        const QStringList lines{"git", "lines", repo, "notes.txt"};
        Run run = runHalvik(lines + QStringList{"include", "+3,+5"});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.out, QStringLiteral("Include lines finished\n"));
        QCOMPARE(run.code, 0);
        QCOMPARE(changedLines(box.git(repo, {"diff", "--cached"})),
                 (QStringList{"+line three", "+after four"}));

        // In the index "line 3" stayed, so "after four" is line 6 there.
        run = runHalvik(lines + QStringList{"exclude", "+6"});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);
        QCOMPARE(changedLines(box.git(repo, {"diff", "--cached"})), QStringList{"+line three"});

        const QByteArray before = box.read(repo, "notes.txt");
        run = runHalvik(lines + QStringList{"discard", "-30,+31"});
        QCOMPARE(run.code, 1);
        QCOMPARE(run.err,
                 QStringLiteral("halvik: Discarding lines can\u2019t be undone: add --yes to go ahead.\n"));
        run = runHalvik(lines + QStringList{"include", "-3,+31"});
        QCOMPARE(run.code, 1);
        QVERIFY(run.err.contains("more than one hunk"));
        run = runHalvik(lines + QStringList{"include", "+4"});
        QCOMPARE(run.code, 1);
        QVERIFY(run.err.contains("Not every line named"));
        QCOMPARE(runHalvik(lines + QStringList{"include", "3"}).code, 2);
        QCOMPARE(runHalvik(lines + QStringList{"stage", "+3"}).code, 2);
        QCOMPARE(box.read(repo, "notes.txt"), before);

        run = runHalvik(lines + QStringList{"discard", "+31", "--yes"});
        QCOMPARE(run.code, 0);
        // The added "line thirty" goes; the removal of "line 30" was not named and stays done.
        QByteArray expected = numbered(40, {{3, "line three"}}, {{4, "after four"}});
        expected.replace("line 30\n", "");
        QCOMPARE(box.read(repo, "notes.txt"), expected);
    }
};

HALVIK_TEST_MAIN(GitDiffTest)

#include "tst_gitdiff.moc"
