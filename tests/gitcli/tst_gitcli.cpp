#include "GitSandbox.h"
#include "TestMain.h"
#include "WaitFor.h"

#include "cli/CliContext.h"
#include "cli/GitCli.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

using namespace halvik;
using halvik::test::GitSandbox;

namespace {

struct Captured
{
    int code = 0;
    QString out;
    QString error; // the sentence the command ends with when it fails
};

// Runs the command with standard output sent to a file, and gives back what it printed.
Captured capture(SiteStore& store, const QStringList& args)
{
    QTemporaryFile file;
    file.open();
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(file.handle(), STDOUT_FILENO);
    Captured result;
    try {
        result.code = halvik::waitFor(runGitCommand(store, args));
    } catch (const halvik::cli::CliError& error) {
        result.code = error.exitCode();
        result.error = error.description();
    } catch (const halvik::HalvikError& error) {
        result.code = 1;
        result.error = error.description();
    }
    halvik::cli::out().flush();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    file.seek(0);
    result.out = QString::fromUtf8(file.readAll());
    return result;
}

} // namespace

class GitCliTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { GitSandbox::configureIdentity(); }

    void statusLogDiffAndCommit()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("shop", {{"a.txt", "a\n"}, {"old name.txt", "same\n"}});
        box.makeRemoteFor(repo, "remote.git");
        box.write(repo, "a.txt", "a2\n");
        box.git(repo, {"mv", "old name.txt", "new name.txt"});
        box.write(repo, "u.txt", "u\n");

        SecretStore secrets(box.path("secrets.json"));
        SiteStore store(secrets, box.path("store"));
        auto site = std::make_shared<Site>("Shop", repo);
        store.insertSite(site);

        auto status = capture(store, {"status", "Shop", "--json"});
        QCOMPARE(status.code, 0);
        const QJsonObject object = QJsonDocument::fromJson(status.out.toUtf8()).object();
        QCOMPARE(object["branch"].toString(), QStringLiteral("main"));
        QCOMPARE(object["upstream"].toString(), QStringLiteral("origin/main"));
        QCOMPARE(object["ahead"].toInt(), 0);
        QCOMPARE(object["unborn"].toBool(), false);
        const QJsonArray files = object["files"].toArray();
        QCOMPARE(files.size(), 3);
        QJsonObject renamed;
        for (const auto& value : files)
            if (value.toObject()["path"] == "new name.txt")
                renamed = value.toObject();
        QCOMPARE(renamed["originalPath"].toString(), QStringLiteral("old name.txt"));
        QCOMPARE(renamed["kindLabel"].toString(), QStringLiteral("Renamed"));
        QCOMPARE(renamed["inclusion"].toString(), QStringLiteral("included"));

        const auto diff = capture(store, {"diff", repo, "a.txt"});
        QCOMPARE(diff.code, 0);
        QVERIFY(diff.out.contains("+a2"));
        QVERIFY(capture(store, {"diff", repo, "a.txt", "--scope", "included"}).out.isEmpty());

        // A write on a registered site is recorded in its history and saved.
        const auto commit = capture(store, {"commit", "Shop", "-m", "Edit a", "a.txt"});
        QCOMPARE(commit.code, 0);
        QVERIFY(commit.out.contains("Edit a"));
        QVERIFY(!site->operations().isEmpty());
        QVERIFY(site->operations().last()->command().startsWith("git commit --only -m Edit a"));
        store.flush(); // as the command's exit does
        SecretStore secrets2(box.path("secrets.json"));
        SiteStore reloaded(secrets2, box.path("store"));
        reloaded.load();
        QCOMPARE(reloaded.sites().first()->operations().size(), site->operations().size());

        const auto log = capture(store, {"log", repo, "-n", "1", "--json"});
        const QJsonArray commits = QJsonDocument::fromJson(log.out.toUtf8()).array();
        QCOMPARE(commits.size(), 1);
        QCOMPARE(commits[0].toObject()["subject"].toString(), QStringLiteral("Edit a"));
        QCOMPARE(commits[0].toObject()["files"].toArray().first().toString(), QStringLiteral("a.txt"));

        // Any folder works through a record that is never stored. A failure is 1, a command
        // line that makes no sense 2.
        QCOMPARE(capture(store, {"commit", repo, "-m", "x", "--all", "a.txt"}).code, 2);
        QCOMPARE(capture(store, {"status", box.path("nowhere")}).code, 1);
        QCOMPARE(capture(store, {"log", repo, "-n", "zero"}).code, 2);
        QCOMPARE(store.sites().size(), 1);
    }

    void everyWriteFromTheCommandLine()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("shop", {{"a1.txt", "one\n"}, {"a[1].txt", "b\n"}});
        box.write(repo, "a1.txt", "one changed\n");
        box.write(repo, "a[1].txt", "b changed\n");
        SecretStore secrets(box.path("secrets.json"));
        SiteStore store(secrets, box.path("store"));

        // Paths are literal: the bracketed name never includes a1.txt.
        auto result = capture(store, {"include", repo, "a[1].txt"});
        QCOMPARE(result.code, 0);
        QCOMPARE(result.out, QStringLiteral("Include finished\n"));
        QCOMPARE(box.git(repo, {"diff", "--cached", "--name-only"}), QStringLiteral("a[1].txt\n"));
        QCOMPARE(capture(store, {"exclude", repo, "a[1].txt"}).out, QStringLiteral("Exclude finished\n"));
        QCOMPARE(box.git(repo, {"diff", "--cached", "--name-only"}), QString());

        // Destructive commands refuse without --yes and ask nothing.
        QCOMPARE(capture(store, {"discard", repo, "a1.txt"}).code, 1);
        QCOMPARE(box.read(repo, "a1.txt"), QByteArray("one changed\n"));
        QCOMPARE(capture(store, {"discard", repo, "a1.txt", "--yes"}).code, 0);
        QCOMPARE(box.read(repo, "a1.txt"), QByteArray("one\n"));

        // Set aside, list and restore.
        QCOMPARE(capture(store, {"stash", repo, "push"}).out, QStringLiteral("Set aside finished\n"));
        const auto stashes =
            QJsonDocument::fromJson(capture(store, {"stash", repo, "list", "--json"}).out.toUtf8());
        QCOMPARE(stashes.array().size(), 1);
        QCOMPARE(capture(store, {"stash", repo, "apply", "0"}).out, QStringLiteral("Restore finished\n"));
        QCOMPARE(box.read(repo, "a[1].txt"), QByteArray("b changed\n"));
        QCOMPARE(capture(store, {"stash", repo, "drop", "0"}).code, 1);
        QCOMPARE(capture(store, {"stash", repo, "drop", "0", "--yes"}).code, 0);

        // Branches: a dirty switch fails in the product's words, or sets the changes aside.
        QCOMPARE(capture(store, {"commit", repo, "-m", "B", "a[1].txt"}).code, 0);
        QCOMPARE(capture(store, {"switch", repo, "feature", "--create"}).code, 0);
        box.write(repo, "a1.txt", "feature\n");
        box.commitAll(repo, "Feature");
        QCOMPARE(capture(store, {"switch", repo, "main"}).code, 0);
        box.write(repo, "a1.txt", "dirty\n");
        QCOMPARE(capture(store, {"switch", repo, "feature"}).code, 1);
        result = capture(store, {"switch", repo, "feature", "--set-aside"});
        QCOMPARE(result.out, QStringLiteral("Set aside and switch finished\n"));
        const auto branchList =
            QJsonDocument::fromJson(capture(store, {"branch", repo, "--json"}).out.toUtf8());
        bool onFeature = false;
        for (const auto& value : branchList.array())
            onFeature =
                onFeature || (value.toObject()["name"] == "feature" && value.toObject()["current"].toBool());
        QVERIFY(onFeature);

        // Undo the last commit, identity, and the streamed log.
        QCOMPARE(capture(store, {"undo", repo}).code, 1);
        QCOMPARE(capture(store, {"undo", repo, "--yes"}).out, QStringLiteral("Undo finished\n"));
        QCOMPARE(box.read(repo, "a1.txt"), QByteArray("one\n"));
        QCOMPARE(
            capture(store, {"identity", repo, "--name", "Cli Person", "--email", "cli@example.invalid"}).code,
            0);
        QCOMPARE(capture(store, {"identity", repo}).out,
                 QStringLiteral("Cli Person <cli@example.invalid>\n"));
        const auto log =
            QJsonDocument::fromJson(capture(store, {"log", repo, "-n", "3", "--json"}).out.toUtf8());
        QCOMPARE(log.array().size(), 3);
        QVERIFY(log.array()[0].toObject()["subject"].toString().startsWith("Revert"));
        QCOMPARE(log.array()[0].toObject()["files"].toArray().first().toString(), QStringLiteral("a1.txt"));

        // Any folder can become a repository.
        const QString folder = box.path("plain");
        QDir().mkpath(folder);
        box.write(folder, "index.php", "<?php\n");
        QCOMPARE(capture(store, {"init", folder}).out, QStringLiteral("Initialize Git finished\n"));
        QCOMPARE(box.git(folder, {"log", "--format=%s"}), QStringLiteral("Initial commit from Halvik\n"));
        // The streamed log carries names as they are, escaped for JSON where needed.
        box.write(folder, "日本/説明 \"quoted\".md", "x\n");
        QCOMPARE(capture(store, {"commit", folder, "-m", "Tab\there", "--all"}).code, 0);
        const auto named = QJsonDocument::fromJson(capture(store, {"log", folder, "--json"}).out.toUtf8());
        QCOMPARE(named.array().size(), 2);
        QCOMPARE(named.array()[0].toObject()["subject"].toString(), QStringLiteral("Tab\there"));
        QCOMPARE(named.array()[0].toObject()["files"].toArray().first().toString(),
                 QStringLiteral("日本/説明 \"quoted\".md"));
        // Nothing to fetch from: a failure, not "Fetch finished".
        QCOMPARE(capture(store, {"fetch", folder}).code, 1);
        QDir().mkpath(box.path("not-a-repository"));
        QCOMPARE(capture(store, {"fetch", box.path("not-a-repository")}).code, 1);
    }

    void failuresEndInOneSentence()
    {
        GitSandbox box;
        const QString repo = box.makeRepo("shop", {{"a.txt", "a\n"}});
        SecretStore secrets(box.path("secrets.json"));
        SiteStore store(secrets, box.path("store"));

        const auto failsWith = [&](const QStringList& args, const QString& sentence) {
            const auto result = capture(store, args);
            QCOMPARE(result.code, 1);
            QCOMPARE(result.error, sentence);
        };
        failsWith({"switch", repo, "nosuch"}, "There is no branch or commit named nosuch.");
        failsWith({"push", repo}, "This site has no remote yet. Add its remote URL, then try again.");
        // With no remote Git fetches nothing and would say nothing.
        failsWith({"fetch", repo}, "This site has no remote yet. Add its remote URL, then try again.");
        box.write(repo, "a.txt", "changed\n");
        QCOMPARE(capture(store, {"stash", repo, "push"}).code, 0);
        failsWith({"stash", repo, "apply", "5"}, "Invalid stash reference.");
        failsWith({"stash", repo, "drop", "3", "--yes"}, "Invalid stash reference.");
        failsWith({"diff", repo, "nowhere.txt"}, "No changed file matches nowhere.txt.");
        failsWith({"switch", repo, "main", "--create"}, "A branch named main already exists.");

        // A file that exists without changes has an empty diff, and that is no failure.
        const auto unchanged = capture(store, {"diff", repo, "a.txt"});
        QCOMPARE(unchanged.code, 0);
        QCOMPARE(unchanged.out, QString());
        // The failed writes stay in the history with Git's own words.
        box.makeRemoteFor(repo, "remote.git");
        QCOMPARE(capture(store, {"fetch", repo}).code, 0);
    }

    void renamesAndOddNamesInDiffs()
    {
        GitSandbox box;
        const QString body = "one\ntwo\nthree\nfour\nfive\nsix\n";
        const QString repo = box.makeRepo("shop", {{"file with space.txt", "a\n"},
                                                   {"old \"name\".txt", body.toUtf8()},
                                                   {"説明.md", body.toUtf8()}});
        SecretStore secrets(box.path("secrets.json"));
        SiteStore store(secrets, box.path("store"));

        box.write(repo, "file with space.txt", "b\n");
        auto result = capture(store, {"diff", repo, "file with space.txt"});
        QCOMPARE(result.code, 0);
        QVERIFY2(result.out.contains("+b"), qPrintable(result.out));

        // A staged rename shows as one, by either name, with its change.
        box.git(repo, {"mv", "old \"name\".txt", "new name.txt"});
        box.write(repo, "new name.txt", (body + "seven\n").toUtf8());
        box.git(repo, {"add", "new name.txt"});
        for (const QString& named : {QStringLiteral("new name.txt"), QStringLiteral("old \"name\".txt")}) {
            result = capture(store, {"diff", repo, named, "--scope", "included"});
            QCOMPARE(result.code, 0);
            QVERIFY2(result.out.contains("rename to new name.txt"), qPrintable(result.out));
            QVERIFY2(result.out.contains("+seven") && !result.out.contains("+one"), qPrintable(result.out));
        }
    }
};

HALVIK_TEST_MAIN_CORE(GitCliTest)
#include "tst_gitcli.moc"
