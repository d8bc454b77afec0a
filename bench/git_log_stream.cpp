// git-log-stream: `halvik git log <repo> -n 20000 --json` written to a file, against `git log`
// with the same format written to a file, on a synthetic repository of 20,000 commits that
// touch three files each. The command prints while Git is still writing, so the goal is to
// cost little more than Git itself. git-log-stream-shaped does the same on a history shaped
// like a long-lived project's (merged topic branches, non-ASCII authors and paths, bodies,
// commits of one to forty files, renames). HALVIK_BENCH_LOG_REPO names another repository (a real
// project's long history) to measure as well, reported as git-log-stream-other.
#include "BenchGit.h"
#include "BenchReport.h"

#include "gitcore/GitCommands.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

using halvik::bench::appendData;
using halvik::bench::runGit;

constexpr int commitCount = 20'000;
const QString repoPath = QStringLiteral("/tmp/halvik-bench-log-repo");

QString filePath(int i)
{
    return QStringLiteral("src/m%1/Part%2.php").arg(i / 100, 2, 10, QLatin1Char('0')).arg(i % 100);
}

// Built once with fast-import and kept for later runs.
bool ensureRepository()
{
    return halvik::bench::keptRepository(repoPath, [] {
        QByteArray stream;
        stream.reserve(16 << 20);
        const QByteArray who = "Bench Person <bench@example.com> ";
        for (int c = 0; c < commitCount; ++c) {
            stream += "commit refs/heads/main\nmark :" + QByteArray::number(c + 1) + "\ncommitter " + who +
                      QByteArray::number(1600000000 + c * 60) + " +0000\n";
            appendData(stream, "Change " + QByteArray::number(c) + ": adjust the parts that belong together");
            if (c > 0)
                stream += "from :" + QByteArray::number(c) + "\n";
            for (int k = 0; k < 3; ++k) {
                const int touched = (c * 7 + k * 1013) % 3000;
                stream += "M 100644 inline " + filePath(touched).toUtf8() + "\n";
                appendData(stream, "<?php // " + QByteArray::number(c) + "\n");
            }
        }
        stream += "done\n";
        return runGit(repoPath, {"fast-import", "--quiet", "--done"}, stream) &&
               runGit(repoPath, {"checkout", "-q", "-f", "main"});
    });
}

// A history shaped like a long-lived project's rather than a uniform one: topic branches of
// eight commits merged into main, authors and paths beyond ASCII, subjects of every length with
// bodies, commits touching one file or forty, and a rename now and then.
const QString shapedRepoPath = QStringLiteral("/tmp/halvik-bench-log-shaped");

QByteArray shapedPath(int i)
{
    static const char* const folders[] = {"app/Http/Controllers/Admin/Reports",
                                          "app/Models",
                                          "resources/views/components/forms",
                                          "resources/lang/fr",
                                          "database/migrations",
                                          "content/collections/blog articles",
                                          "tests/Feature/Billing",
                                          "config"};
    static const char* const stems[] = {"QuarterlyReportController",
                                        "Invoice",
                                        "text-input",
                                        "modèles",
                                        "2026_01_01_000000_create_orders_table",
                                        "ünïcode-ready",
                                        "Refund",
                                        "services"};
    const int kind = i % 8;
    return QByteArray(folders[kind]) + '/' + stems[(i / 8) % 8] + '-' + QByteArray::number(i / 64) +
           (kind == 2   ? ".blade.php"
            : kind == 5 ? ".md"
                        : ".php");
}

bool ensureShapedRepository()
{
    return halvik::bench::keptRepository(shapedRepoPath, [] {
        static const char* const authors[] = {
            "Zoë Ångström <zoe@example.com>", "José Núñez <jose@example.com>", "田中 太郎 <taro@example.com>",
            "Sam O'Neill <sam@example.com>", "Bench Person <bench@example.com>"};
        QByteArray stream;
        stream.reserve(64 << 20);
        int mainTip = 0;
        int topicTip = 0;
        for (int c = 0; c < commitCount; ++c) {
            const int mark = c + 1;
            const int position = c % 10;
            const bool merge = position == 8 && mainTip != 0;
            const QByteArray branch = position < 8 ? "refs/heads/topic" : "refs/heads/main";
            stream += "commit " + branch + "\nmark :" + QByteArray::number(mark) + "\nauthor " +
                      authors[c % 5] + ' ' + QByteArray::number(1500000000 + c * 3600) +
                      " +0100\ncommitter " + authors[(c / 3) % 5] + ' ' +
                      QByteArray::number(1500000000 + c * 3600 + 60) + " +0100\n";
            QString subject = merge ? QStringLiteral("Merge branch 'topic/%1' into main").arg(c / 10)
                                    : QStringLiteral("Refactor the réglages of part %1").arg(c);
            subject += QStringLiteral(" — keep the behaviour the same").left((c * 13) % 31);
            appendData(stream, subject.toUtf8() +
                                   "\n\nWhy: the old shape made every change touch three files.\n\n"
                                   "Co-authored-by: " +
                                   authors[(c + 1) % 5] + "\n");
            // Topics start from main's tip and go on from their own; main goes on from its tip (or,
            // the first time, from where the first topic ended) and merges the topic.
            const int from = position == 0 ? mainTip : position < 8 ? topicTip : mainTip ? mainTip : topicTip;
            if (from)
                stream += "from :" + QByteArray::number(from) + "\n";
            if (merge)
                stream += "merge :" + QByteArray::number(topicTip) + "\n";
            const int files = position == 8 ? 0 : (c % 17 == 0 ? 40 : 1 + (c * 7) % 5);
            for (int k = 0; k < files; ++k) {
                stream += "M 100644 inline \"" + shapedPath((c * 31 + k * 101) % 4096) + "\"\n";
                appendData(stream, "<?php // " + QByteArray::number(c) + '/' + QByteArray::number(k) + "\n");
            }
            if (files > 0 && c % 25 == 3)
                stream +=
                    "R \"" + shapedPath((c * 31) % 4096) + "\" \"" + shapedPath((c * 31) % 4096) + ".old\"\n";
            (position < 8 ? topicTip : mainTip) = mark;
        }
        stream += "done\n";
        return runGit(shapedRepoPath, {"fast-import", "--quiet", "--done"}, stream) &&
               runGit(shapedRepoPath, {"checkout", "-q", "-f", "main"});
    });
}

QProcessEnvironment gitEnvironment(const QString& repo)
{
    auto env = QProcessEnvironment::systemEnvironment();
    const auto extra = halvik::gitcore::GitCommands::environment(repo);
    for (auto it = extra.cbegin(); it != extra.cend(); ++it)
        env.insert(it.key(), it.value());
    return env;
}

// Runs the program with standard output written to `output`; false when it failed.
bool runToFile(const QString& program, const QStringList& args, const QString& workingDirectory,
               const QProcessEnvironment& env, const QString& output)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workingDirectory);
    process.setStandardOutputFile(output, QIODevice::Truncate);
    process.start(program, args);
    process.waitForFinished(-1);
    if (process.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// One figure: the command against Git alone, best of `rounds`.
bool measure(const QString& name, const QString& repo, const QString& home)
{
    const QString gitOut = home + QStringLiteral("/git-log.txt");
    const QString halvikOut = home + QStringLiteral("/halvik-log.json");
    const QString count = QString::number(commitCount);
    const QStringList gitArgs = halvik::gitcore::GitCommands::quietArguments(
        {"log", "-n", count, "--pretty=format:%H%x1f%an%x1f%at%x1f%s", "--name-only"});
    const QStringList halvikArgs{"git", "log", repo, "-n", count, "--json"};
    auto halvikEnv = QProcessEnvironment::systemEnvironment();
    halvikEnv.insert(QStringLiteral("HOME"), home);
    halvikEnv.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    halvikEnv.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    halvikEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QProcessEnvironment gitEnv = gitEnvironment(repo);

    // Warm both, and check the command's output once.
    if (!runToFile(QStringLiteral("/usr/bin/git"), gitArgs, repo, gitEnv, gitOut) ||
        !runToFile(QStringLiteral(HALVIK_BINARY), halvikArgs, repo, halvikEnv, halvikOut))
        return false;
    QFile json(halvikOut);
    json.open(QIODevice::ReadOnly);
    const QJsonArray commits = QJsonDocument::fromJson(json.readAll()).array();
    if (commits.isEmpty()) {
        std::fprintf(stderr, "halvik git log printed no commits\n");
        return false;
    }

    double halvikBest = 1e300;
    double gitBest = 1e300;
    // Shared machines are noisy upwards only: the best of several interleaved rounds.
    for (int round = 0; round < 7; ++round) {
        gitBest = std::min(gitBest, halvik::bench::bestSeconds(1, [&] {
                               runToFile(QStringLiteral("/usr/bin/git"), gitArgs, repo, gitEnv, gitOut);
                           }));
        halvikBest =
            std::min(halvikBest, halvik::bench::bestSeconds(1, [&] {
                         runToFile(QStringLiteral(HALVIK_BINARY), halvikArgs, repo, halvikEnv, halvikOut);
                     }));
    }
    halvik::bench::report(
        name, halvikBest, QStringLiteral("s"), gitBest,
        QStringLiteral("%1 commits with their files, %2 MB of git log output; goal ratio 1.1")
            .arg(commits.size())
            .arg(QFileInfo(gitOut).size() / 1e6, 0, 'f', 1));
    return true;
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
    if (!measure(QStringLiteral("git-log-stream"), repoPath, home.path()))
        return 1;
    if (!ensureShapedRepository()) {
        std::fprintf(stderr, "could not build the project-shaped benchmark repository\n");
        return 1;
    }
    if (!measure(QStringLiteral("git-log-stream-shaped"), shapedRepoPath, home.path()))
        return 1;
    const QString other = qEnvironmentVariable("HALVIK_BENCH_LOG_REPO");
    if (!other.isEmpty() && !measure(QStringLiteral("git-log-stream-other"), other, home.path()))
        return 1;
    return 0;
}
