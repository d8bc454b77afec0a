// How fast the Git output parsers are next to the git commands that produce their input.
// Builds its repositories in a temporary folder; prints three JSON lines.
#include "BenchReport.h"

#include "gitcore/GitCommands.h"
#include "gitcore/GitParsers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdlib>

using namespace halvik::gitcore;
using halvik::bench::bestSeconds;
using halvik::bench::report;

namespace {

QProcessEnvironment gitEnvironment(const QString& home)
{
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("GIT_CONFIG_NOSYSTEM", "1");
    for (const char* key : {"GIT_AUTHOR_NAME", "GIT_COMMITTER_NAME"})
        env.insert(key, "Bench");
    for (const char* key : {"GIT_AUTHOR_EMAIL", "GIT_COMMITTER_EMAIL"})
        env.insert(key, "bench@example.test");
    return env;
}

QByteArray git(const QString& dir, const QStringList& args, const QByteArray& input = {})
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessEnvironment(gitEnvironment(dir));
    process.start("git", args);
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    QByteArray out;
    while (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(-1);
        out += process.readAllStandardOutput();
    }
    out += process.readAllStandardOutput();
    if (process.exitCode() != 0) {
        std::fprintf(stderr, "git %s failed: %s\n", qPrintable(args.join(' ')),
                     process.readAllStandardError().constData());
        std::exit(1);
    }
    return out;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    file.write(content);
}

// 100,000 changes: 20,000 committed files edited in the work tree and 80,000 untracked ones,
// spread over folders with numbered names so the natural sort has work to do.
void benchStatus(const QString& root)
{
    const QString dir = root + "/status";
    QDir().mkpath(dir);
    git(dir, {"init", "-q", "-b", "main"});
    for (int folder = 0; folder < 1000; ++folder) {
        const QString sub = QStringLiteral("%1/dir%2").arg(dir).arg(folder);
        QDir().mkpath(sub);
        for (int i = 0; i < 20; ++i)
            writeFile(QStringLiteral("%1/tracked%2.txt").arg(sub).arg(i), "committed\n");
    }
    git(dir, {"add", "-A"});
    git(dir, {"commit", "-q", "-m", "tracked files"});
    for (int folder = 0; folder < 1000; ++folder) {
        const QString sub = QStringLiteral("%1/dir%2").arg(dir).arg(folder);
        for (int i = 0; i < 20; ++i)
            writeFile(QStringLiteral("%1/tracked%2.txt").arg(sub).arg(i), "edited\n");
        for (int i = 0; i < 80; ++i)
            writeFile(QStringLiteral("%1/new file %2.md").arg(sub).arg(i), "new\n");
    }
    const QStringList args = GitCommands::statusPorcelainV2();
    QByteArray output;
    git(dir, args); // warm the index and the file-system caches
    const double baseline = bestSeconds(3, [&] { output = git(dir, args); });
    // Like a workspace refreshing its status, the previous result stays alive until the new
    // one is complete. (Freeing everything between parses measures the allocator instead: glibc
    // then hands the pages back and faults them in again on the next parse.)
    GitStatusParseResult previous;
    const double value = bestSeconds(5, [&] {
        GitStatusParseResult status = GitParsers::parseStatusPorcelainV2(QString::fromUtf8(output));
        previous = std::move(status);
    });
    const qsizetype files = previous.files.size();
    if (files != 100000) {
        std::fprintf(stderr, "status parse found %lld files\n", static_cast<long long>(files));
        std::exit(1);
    }
    report("gitcore-status-parse", value, "s", baseline,
           "parse (UTF-8 decode included) of 100,000 changed or untracked files vs git status producing it");
}

// 50,000 commits, each touching one to three files, written with fast-import.
void benchLog(const QString& root)
{
    const QString dir = root + "/log";
    QDir().mkpath(dir);
    git(dir, {"init", "-q", "-b", "main"});
    QByteArray stream;
    QTextStream out(&stream);
    for (int n = 1; n <= 50000; ++n) {
        const QByteArray message = QStringLiteral("Change number %1 of the log bench").arg(n).toUtf8();
        out << "commit refs/heads/main\n"
            << "committer Bench <bench@example.test> " << (1600000000 + n) << " +0000\n"
            << "data " << message.size() << "\n"
            << message << "\n";
        for (int k = 0; k <= n % 3; ++k) {
            const QByteArray content = QByteArray::number(n) + "\n";
            const int post = (n * 7 + k * 131) % 5000;
            out << "M 100644 inline content/collections/posts/" << (post % 100) << "/post-" << post << ".md\n"
                << "data " << content.size() << "\n"
                << content;
        }
        out << "\n";
    }
    out.flush();
    git(dir, {"fast-import", "--quiet"}, stream);
    const QStringList args{"log", "--pretty=format:%H%x1f%an%x1f%at%x1f%s", "--name-only"};
    QByteArray output;
    git(dir, args);
    const double baseline = bestSeconds(3, [&] { output = git(dir, args); });
    qsizetype commits = 0;
    const double value =
        bestSeconds(5, [&] { commits = GitParsers::parseLog(QString::fromUtf8(output)).size(); });
    if (commits != 50000) {
        std::fprintf(stderr, "log parse found %lld commits\n", static_cast<long long>(commits));
        std::exit(1);
    }
    report("gitcore-log-parse", value, "s", baseline,
           "parse (UTF-8 decode included) of 50,000 commits with file names vs git log producing it");
}

// A 4,000-line diff: the largest one that is still parsed.
void benchDiff()
{
    QStringList lines{"diff --git a/resources/views/home.blade.php b/resources/views/home.blade.php",
                      "index 1111111..2222222 100644", "--- a/resources/views/home.blade.php",
                      "+++ b/resources/views/home.blade.php"};
    int old = 1;
    while (lines.size() < GitCommands::maxDiffLines) {
        lines << QStringLiteral("@@ -%1,6 +%1,6 @@ <section class=\"block\">").arg(old);
        for (int i = 0; i < 3 && lines.size() < GitCommands::maxDiffLines; ++i)
            lines << QStringLiteral("     <p>{{ $page->title }} context line %1</p>").arg(old + i);
        lines << QStringLiteral("-    <h2>Old heading %1</h2>").arg(old);
        lines << QStringLiteral("+    <h2>New heading %1</h2>").arg(old);
        lines << QStringLiteral("     <p>trailing context</p>");
        old += 40;
    }
    while (lines.size() > GitCommands::maxDiffLines)
        lines.removeLast();
    const QString text = lines.join('\n') + '\n';
    GitFileDiff diff;
    const double value = bestSeconds(20, [&] {
        diff = GitParsers::parseUnifiedDiff(text, "resources/views/home.blade.php", GitDiffScope::remaining,
                                            true);
    });
    if (diff.kind != GitDiffKind::text || diff.lineCount != GitCommands::maxDiffLines) {
        std::fprintf(stderr, "diff parse gave kind %s with %d lines\n", qPrintable(toRaw(diff.kind)),
                     diff.lineCount);
        std::exit(1);
    }
    report(
        "gitcore-diff-parse", value * 1000, "ms", -1,
        QStringLiteral("%1-line diff, %2 hunks; goal under 5 ms").arg(diff.lineCount).arg(diff.hunks.size()));
}

} // namespace

int main()
{
    QTemporaryDir root;
    if (!root.isValid())
        return 1;
    benchStatus(root.path());
    benchLog(root.path());
    benchDiff();
    return 0;
}
