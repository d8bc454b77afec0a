// A repository of 100,000 tracked files (1% modified, 1,000 untracked) and 20,000 commits.
// git-snapshot: GitService::snapshot(historyLimit: 50) against the same Git commands run back
// to back through plain QProcess without parsing. git-refresh-stall: the longest gap a 1 ms
// main-thread timer sees while a GitWorkspace refreshes that repository.
#include "BenchGit.h"
#include "BenchReport.h"
#include "FakePrompts.h"

#include "WaitFor.h"
#include "app/GitWorkspace.h"
#include "gitcore/GitCommands.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "services/ProcessRunner.h"
#include "services/git/GitService.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace halvik;

namespace {

using halvik::bench::appendData;
using halvik::bench::runGit;

constexpr int fileCount = 100'000;
constexpr int commitCount = 20'000;
const QString repoPath = QStringLiteral("/tmp/halvik-bench-repo");

QString filePath(int i)
{
    // 100 folders of 100 folders of 10 files keep every tree small.
    return QStringLiteral("a%1/b%2/f%3.txt")
        .arg(i / 1000, 2, 10, QLatin1Char('0'))
        .arg(i / 10 % 100, 2, 10, QLatin1Char('0'))
        .arg(i % 10);
}

// Built once with fast-import and kept for later runs.
bool ensureRepository()
{
    return bench::keptRepository(repoPath, [] {
        QByteArray stream;
        stream.reserve(64 << 20);
        const QByteArray who = "Bench <bench@example.com> ";
        stream += "commit refs/heads/main\nmark :1\ncommitter " + who + "1600000000 +0000\n";
        appendData(stream, "Add every file");
        for (int i = 0; i < fileCount; ++i) {
            stream += "M 100644 inline " + filePath(i).toUtf8() + "\n";
            appendData(stream, "file " + QByteArray::number(i) + "\n");
        }
        for (int c = 1; c < commitCount; ++c) {
            const int touched = (c * 7919) % fileCount;
            stream += "commit refs/heads/main\nmark :" + QByteArray::number(c + 1) + "\ncommitter " + who +
                      QByteArray::number(1600000000 + c) + " +0000\n";
            appendData(stream, "Change " + filePath(touched).toUtf8());
            stream += "from :" + QByteArray::number(c) + "\n";
            stream += "M 100644 inline " + filePath(touched).toUtf8() + "\n";
            appendData(stream,
                       "file " + QByteArray::number(touched) + " version " + QByteArray::number(c) + "\n");
        }
        stream += "done\n";
        if (!runGit(repoPath, {"fast-import", "--quiet", "--done"}, stream) ||
            !runGit(repoPath, {"checkout", "-q", "-f", "main"}))
            return false;

        for (int i = 0; i < fileCount; i += 100) {
            QFile file(repoPath + QLatin1Char('/') + filePath(i));
            file.open(QIODevice::Append);
            file.write("local edit\n");
        }
        QDir().mkpath(repoPath + QStringLiteral("/untracked"));
        for (int i = 0; i < 1000; ++i) {
            QFile file(repoPath + QStringLiteral("/untracked/u%1.txt").arg(i, 4, 10, QLatin1Char('0')));
            file.open(QIODevice::WriteOnly);
            file.write("new\n");
        }
        return true;
    });
}

// The commands a snapshot runs (side by side there), here one after another.
QList<QStringList> snapshotCommands()
{
    const QString get = QStringLiteral("--get");
    return {gitcore::GitCommands::statusTrackedPorcelainV2(),
            gitcore::GitCommands::untrackedFiles(),
            {"remote", "get-url", "origin"},
            {"rev-parse", "--git-path", "rebase-merge"},
            {"rev-parse", "--git-path", "rebase-apply"},
            {"rev-parse", "--git-path", "REVERT_HEAD"},
            {"ls-files", "--", ".env"},
            {"for-each-ref",
             QStringLiteral("--format=%(refname)\x1f%(refname:short)\x1f%(HEAD)\x1f%(upstream:short)"),
             "refs/heads/", "refs/remotes/"},
            {"stash", "list", "--format=%gd%x1f%ct%x1f%gs"},
            {"config", "--local", get, "user.name"},
            {"config", "--local", get, "user.email"},
            {"config", get, "user.name"},
            {"config", get, "user.email"},
            {"log", "-n", "50", "--pretty=format:%H%x1f%an%x1f%at%x1f%s", "--name-only"}};
}

void runDirectly(const QList<QStringList>& commands)
{
    auto env = QProcessEnvironment::systemEnvironment();
    const auto extra = gitcore::GitCommands::environment(repoPath);
    for (auto it = extra.cbegin(); it != extra.cend(); ++it)
        env.insert(it.key(), it.value());
    const auto reads = gitcore::GitCommands::readEnvironment();
    for (auto it = reads.cbegin(); it != reads.cend(); ++it)
        env.insert(it.key(), it.value());
    for (const QString& name : gitcore::GitCommands::removedEnvironment())
        env.remove(name);
    for (const QStringList& args : commands) {
        QProcess git;
        git.setProcessEnvironment(env);
        git.setWorkingDirectory(repoPath);
        git.start(QStringLiteral("/usr/bin/git"), gitcore::GitCommands::quietArguments(args));
        git.waitForFinished(-1);
        git.readAllStandardOutput();
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    if (!ensureRepository()) {
        std::fprintf(stderr, "could not build the benchmark repository\n");
        return 1;
    }

    ProcessRunner runner;
    GitService service(runner);
    const auto site = std::make_shared<Site>(QStringLiteral("bench"), repoPath);
    const auto commands = snapshotCommands();

    // Warm the file-system cache and the index before timing either side.
    const auto warm = halvik::waitFor(service.snapshot(site, 50, 0));
    runDirectly(commands);
    const QString shape =
        QStringLiteral("%1 changed files, %2 commits listed").arg(warm.files.size()).arg(warm.commits.size());

    // Before the reads ran side by side, the status was one command listing untracked files too.
    QList<QStringList> oneStatus = commands;
    oneStatus.removeFirst();
    oneStatus.first() = gitcore::GitCommands::statusPorcelainV2();
    runDirectly(oneStatus);

    double snapshotBest = 1e300;
    double directBest = 1e300;
    double oneStatusBest = 1e300;
    for (int round = 0; round < 5; ++round) {
        snapshotBest = std::min(
            snapshotBest, bench::bestSeconds(1, [&] { halvik::waitFor(service.snapshot(site, 50, 0)); }));
        directBest = std::min(directBest, bench::bestSeconds(1, [&] { runDirectly(commands); }));
        oneStatusBest = std::min(oneStatusBest, bench::bestSeconds(1, [&] { runDirectly(oneStatus); }));
    }
    bench::report(QStringLiteral("git-snapshot"), snapshotBest, QStringLiteral("s"), directBest,
                  shape + QStringLiteral("; with one whole status run back to back: %1 s (ratio %2)")
                              .arg(oneStatusBest, 0, 'f', 3)
                              .arg(snapshotBest / oneStatusBest, 0, 'f', 2));

    SecretStore secrets(home.filePath(QStringLiteral("secrets.json")));
    SiteStore store(secrets, home.path());
    test::FakePrompts prompts; // nothing here asks; a question would be cancelled
    GitWorkspace workspace(service, store, prompts, site);
    qint64 worst = 0;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer gap;
        qint64 longest = 0;
        QTimer ticker;
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] { longest = std::max(longest, gap.restart()); });
        gap.start();
        ticker.start();
        halvik::waitFor(workspace.refresh(false));
        // The diff load the refresh starts belongs to it too.
        while (workspace.isLoadingDiff())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        longest = std::max(longest, gap.elapsed());
        ticker.stop();
        worst = std::max(worst, longest);
    }
    bench::report(QStringLiteral("git-refresh-stall"), double(worst), QStringLiteral("ms"), -1,
                  QStringLiteral("longest main-thread gap over 3 refreshes; goal 16 ms"));
    return 0;
}
