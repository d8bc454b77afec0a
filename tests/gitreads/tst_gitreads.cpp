// The reads Halvik starts by itself, on repositories received from elsewhere: they run none of
// the programs a repository's configuration names, and they show renamed and oddly named files
// as Git itself does. Everything runs real Git.
#include "FakeEngine.h"
#include "FakePrompts.h"
#include "GitSandbox.h"
#include "TestMain.h"

#include "WaitFor.h"
#include "app/GitWorkspace.h"
#include "app/SiteImporter.h"
#include "cli/GitCli.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "services/HerdService.h"
#include "services/git/GitService.h"

#include <QDir>
#include <QFile>

using namespace halvik;
using namespace halvik::gitcore;
using halvik::test::FakeEngine;
using halvik::test::FakePrompts;
using halvik::test::GitSandbox;

namespace {

void writeScript(const QString& path, const QByteArray& body)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QString contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

struct Fixture
{
    explicit Fixture(GitSandbox& box, const QString& repo)
        : secrets(box.path("secrets.json")), store(secrets, box.path("store")),
          site(std::make_shared<Site>(QStringLiteral("site"), repo)),
          workspace(std::make_unique<GitWorkspace>(service, store, prompts, site))
    {
    }
    ~Fixture()
    {
        workspace->stop();
        if (!QTest::qWaitFor([this] { return workspace->loadsInFlight() == 0; }, 30000))
            qFatal("A workspace load never ended");
        workspace.reset();
        if (!QTest::qWaitFor([this] { return service.isMutationIdle(); }, 30000))
            qFatal("A Git write never ended");
    }

    GitWorkspace& ws() { return *workspace; }

    // Selects one changed file in `scope` and waits for its diff.
    GitFileDiff diffOf(const QString& path, GitDiffScope scope)
    {
        halvik::waitFor(workspace->refresh(false));
        workspace->setListTab(GitListTab::changes);
        workspace->selectFiles({path});
        workspace->setDiffScope(scope);
        const bool loaded = QTest::qWaitFor(
            [&] {
                const auto& diff = workspace->loadedDiff();
                return !workspace->isLoadingDiff() && diff && diff->path == path && diff->scope == scope;
            },
            20000);
        if (!loaded)
            return GitFileDiff::empty(QString(), scope, GitDiffKind::missing);
        return *workspace->loadedDiff();
    }

    ProcessRunner runner;
    GitService service{runner};
    SecretStore secrets;
    SiteStore store;
    FakePrompts prompts;
    SitePtr site;
    std::unique_ptr<GitWorkspace> workspace;
};

int countOf(const GitFileDiff& diff, GitDiffLine::Kind kind)
{
    int count = 0;
    for (const auto& hunk : diff.hunks)
        for (const auto& line : hunk.lines)
            count += line.kind == kind ? 1 : 0;
    return count;
}

} // namespace

class GitReadsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { GitSandbox::configureIdentity(); }

    void lookingRunsNothingTheRepositoryNames()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("received", {{"a.txt", "a\n"}, {"b.txt", "b\n"}});
        const QString marker = box.path("ran.log");
        const QByteArray record = "echo \"$0\" >> '" + marker.toUtf8() + "'\n";
        writeScript(box.path("fsmonitor.sh"), record + "exit 1\n");
        writeScript(box.path("external.sh"), record);
        writeScript(box.path("textconv.sh"), record + "cat \"$1\"\n");
        box.git(repo, {"config", "core.fsmonitor", box.path("fsmonitor.sh")});
        box.git(repo, {"config", "diff.external", box.path("external.sh")});
        box.git(repo, {"config", "diff.conv.textconv", box.path("textconv.sh")});
        box.write(repo, ".gitattributes", "*.txt diff=conv\n");
        box.commitAll(repo, "Attributes");
        writeScript(QDir(repo).filePath(".git/hooks/pre-commit"), record);
        box.write(repo, "a.txt", "a2\n");
        box.write(repo, "b.txt", "b2\n");
        box.git(repo, {"add", "b.txt"});
        // Git itself does run them: the test would prove nothing otherwise.
        box.git(repo, {"status"});
        box.git(repo, {"diff"});
        QVERIFY(contents(marker).contains("fsmonitor.sh"));
        QVERIFY(contents(marker).contains("external.sh"));
        QFile::remove(marker);

        {
            Fixture f(box, repo);
            FakeEngine engine(box.path("machine"));
            HerdService herd(engine.roots());
            SiteImporter importer(f.store, herd, f.service);
            QVERIFY(halvik::waitFor(importer.importExistingSite(repo)));

            for (const QStringList& args : QList<QStringList>{{"status", repo},
                                                              {"log", repo},
                                                              {"diff", repo, "a.txt"},
                                                              {"diff", repo, "b.txt", "--scope", "included"},
                                                              {"branch", repo},
                                                              {"stash", repo, "list"}})
                QCOMPARE(halvik::waitFor(runGitCommand(f.store, args)), 0);

            // The Git tab: a refresh, each scope's diff, and a commit's diff in the history.
            QCOMPARE(countOf(f.diffOf("a.txt", GitDiffScope::remaining), GitDiffLine::Kind::addition), 1);
            QCOMPARE(countOf(f.diffOf("b.txt", GitDiffScope::included), GitDiffLine::Kind::addition), 1);
            f.ws().setListTab(GitListTab::history);
            // The first commit, whose files the text conversion would apply to.
            f.ws().selectCommit(f.ws().snapshot().commits.last().sha);
            QVERIFY(QTest::qWaitFor(
                [&] { return !f.ws().isLoadingDiff() && f.ws().loadedDiff() && f.ws().commitDetail(); },
                20000));
            QVERIFY2(!QFile::exists(marker), qPrintable(contents(marker)));

            // A write the person asks for keeps the repository's hooks.
            QCOMPARE(halvik::waitFor(runGitCommand(f.store, {"commit", repo, "-m", "Mine", "b.txt"})), 0);
            QVERIFY2(contents(marker).contains("pre-commit"), qPrintable(contents(marker)));
        }
    }

    void renamesShowAsRenamesInBothScopes()
    {
        GitSandbox box;
        const QByteArray body = "one\ntwo\nthree\nfour\nfive\nsix\n";
        const QString quoted = QStringLiteral("old \"q\" 名前.txt");
        const QString spaced = QStringLiteral("file with space.txt");
        const QString repo = box.makeRepo("repo", {{quoted, body}, {spaced, body}, {"plain.txt", body}});
        Fixture f(box, repo);

        // A staged rename with one more line: the rename and that line, not a whole new file.
        box.git(repo, {"mv", quoted, "new name.txt"});
        box.write(repo, "new name.txt", body + "seven\n");
        box.git(repo, {"add", "new name.txt"});
        auto diff = f.diffOf("new name.txt", GitDiffScope::included);
        QCOMPARE(diff.kind, GitDiffKind::text);
        QCOMPARE(diff.originalPath.value_or(QString()), quoted);
        QCOMPARE(countOf(diff, GitDiffLine::Kind::addition), 1);
        QCOMPARE(countOf(diff, GitDiffLine::Kind::deletion), 0);
        box.commitAll(repo, "Renamed");

        // A rename in the working copy that Git was told about (intent to add).
        QVERIFY(QFile::rename(QDir(repo).filePath("plain.txt"), QDir(repo).filePath("世界 new.txt")));
        box.write(repo, "世界 new.txt", body + "seven\n");
        box.git(repo, {"add", "-N", "世界 new.txt"});
        diff = f.diffOf("世界 new.txt", GitDiffScope::remaining);
        QCOMPARE(diff.originalPath.value_or(QString()), QStringLiteral("plain.txt"));
        QCOMPARE(countOf(diff, GitDiffLine::Kind::addition), 1);

        // A name with spaces that only changed is not "from" anywhere, and its hunks apply.
        box.write(repo, spaced, body + "more\n");
        diff = f.diffOf(spaced, GitDiffScope::remaining);
        QVERIFY2(!diff.originalPath, qPrintable(diff.originalPath.value_or(QString())));
        QCOMPARE(diff.hunks.size(), 1);
        halvik::waitFor(f.ws().applyHunk(diff, diff.hunks.first(), GitHunkAction::include));
        QVERIFY2(!f.ws().noticeFailed(), qPrintable(f.ws().notice().value_or(QString())));
        QCOMPARE(box.git(repo, {"diff", "--cached", "--name-only", "--", spaced}).trimmed(), spaced);
    }
};

HALVIK_TEST_MAIN_CORE(GitReadsTest)
#include "tst_gitreads.moc"
