// git-diff-render: from selecting a file whose diff is the largest the diff pane shows (3,996
// lines: 499 hunks of one added line each, all Git's three-line context allows) to the first
// painted diff, through a real GitWorkspace, GitService and `git diff`; baseline: the same
// selection in a workspace without any screen, up to the moment the diff is loaded.
// git-diff-render-571: the 571-hunk diff of 3,999 lines (two lines of context) handed straight to
// the diff view, to its first paint; baseline: parsing the same diff text.
// git-diff-scroll-stall: the longest main-thread stall while the 499-hunk diff scrolls from top to
// bottom half a page per turn of the event loop; baseline: a plain list view of the same lines
// scrolled the same way.
#include "BenchGit.h"
#include "BenchReport.h"
#include "FakePrompts.h"
#include "StallMeter.h"

#include "WaitFor.h"
#include "app/GitWorkspace.h"
#include "gitcore/GitParsers.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "views/git/GitDiffModel.h"
#include "views/git/GitDiffPane.h"
#include "views/git/GitDiffScroll.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFontDatabase>
#include <QListView>
#include <QScrollBar>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace halvik;

namespace {

constexpr int hunkCount = 499;
constexpr int syntheticHunks = 571;

// Times the first paint of a widget after arm(): the paint itself runs inside the filter.
class FirstPaint : public QObject
{
public:
    std::function<bool()> ready;
    qint64 paintedAt = -1;
    QElapsedTimer* clock = nullptr;

    void arm(QElapsedTimer* timer) { clock = timer, paintedAt = -1; }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || !clock || paintedAt >= 0 || !ready())
            return false;
        watched->event(event);
        paintedAt = clock->nsecsElapsed();
        return true;
    }
};

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Scrolls `bar` from top to bottom, half a page per turn of the event loop; the longest stall.
double scrollStall(QAbstractScrollArea& area)
{
    QScrollBar* bar = area.verticalScrollBar();
    bar->setValue(0);
    QCoreApplication::processEvents();
    bench::StallMeter meter;
    QEventLoop loop;
    QTimer step;
    QObject::connect(&step, &QTimer::timeout, [&] {
        if (bar->value() >= bar->maximum()) {
            loop.quit();
            return;
        }
        bar->setValue(bar->value() + std::max(1, bar->pageStep() / 2));
        area.viewport()->repaint();
    });
    meter.start();
    step.start(0);
    loop.exec();
    return meter.stopMilliseconds();
}

QByteArray numberedLines(int count)
{
    QByteArray text;
    for (int i = 1; i <= count; ++i)
        text += "    $value_" + QByteArray::number(i) + " = compute($input, " + QByteArray::number(i * 7) +
                ");\n";
    return text;
}

// The big file after the edit: one added line after every eighth line.
QByteArray editedLines(int count)
{
    QByteArray text;
    for (int i = 1; i <= count; ++i) {
        text += "    $value_" + QByteArray::number(i) + " = compute($input, " + QByteArray::number(i * 7) +
                ");\n";
        if (i % 8 == 4)
            text += "    log('checkpoint " + QByteArray::number(i) + "');\n";
    }
    return text;
}

QString syntheticDiff()
{
    QString text = QStringLiteral("--- a/big.php\n+++ b/big.php\n");
    int line = 1;
    for (int h = 0; h < syntheticHunks; ++h) {
        text += QStringLiteral("@@ -%1,5 +%1,5 @@ function step%2()\n").arg(line).arg(h);
        text += QStringLiteral(" context %1\n context %2\n").arg(line).arg(line + 1);
        text += QStringLiteral("-    return old_value(%1);\n+    return new_value(%1);\n").arg(h);
        text += QStringLiteral(" context %1\n context %2\n").arg(line + 3).arg(line + 4);
        line += 10;
    }
    text.chop(1);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", "offscreen").toUtf8());
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString repo = dir.path() + QStringLiteral("/site");
    QDir().mkpath(repo);
    const int fileLines = hunkCount * 8;
    {
        QFile big(repo + QStringLiteral("/big.php"));
        big.open(QIODevice::WriteOnly);
        big.write(numberedLines(fileLines));
        QFile small(repo + QStringLiteral("/small.txt"));
        small.open(QIODevice::WriteOnly);
        small.write("one\n");
    }
    const QStringList who{"-c", "user.name=Bench", "-c", "user.email=bench@example.test"};
    if (!bench::runGit(repo, {"init", "-q", "-b", "main"}) || !bench::runGit(repo, {"add", "-A"}) ||
        !bench::runGit(repo, who + QStringList{"commit", "-q", "-m", "base"}))
        return 1;
    {
        QFile big(repo + QStringLiteral("/big.php"));
        big.open(QIODevice::WriteOnly);
        big.write(editedLines(fileLines));
        QFile small(repo + QStringLiteral("/small.txt"));
        small.open(QIODevice::WriteOnly);
        small.write("two\n");
    }

    ProcessRunner runner;
    GitService service(runner);
    SecretStore secrets(dir.path() + QStringLiteral("/secrets.json"));
    SiteStore store(secrets, dir.path() + QStringLiteral("/store"));
    test::FakePrompts prompts; // nothing here asks; a question would be cancelled
    auto site = std::make_shared<Site>(QStringLiteral("bench"), repo);
    const QString bigPath = QStringLiteral("big.php");
    const QString smallPath = QStringLiteral("small.txt");

    // --- The diff pane on screen ---------------------------------------------------------------
    GitWorkspace workspace(service, store, prompts, site);
    views::GitDiffPane pane(workspace, views::GitDiffPane::Mode::changes);
    pane.resize(1000, 700);
    pane.show();
    halvik::waitFor(workspace.refresh(false));
    workspace.setDiffScope(gitcore::GitDiffScope::remaining);
    FirstPaint first;
    views::GitDiffScroll* scroll = pane.scroll();
    first.ready = [&] {
        const auto& diff = scroll->diffModel()->diff();
        // Laid out: the rows fill more than the viewport.
        return scroll->isVisible() && diff && diff->path == bigPath &&
               scroll->verticalScrollBar()->maximum() > 0;
    };
    scroll->viewport()->installEventFilter(&first);
    // The same selection in a workspace without a screen, run by turns with the one on screen.
    GitWorkspace bare(service, store, prompts, site);
    halvik::waitFor(bare.refresh(false));
    bare.setDiffScope(gitcore::GitDiffScope::remaining);
    double modelOnly = 1e300;
    const auto loaded = [](const GitWorkspace& ws, const QString& path) {
        return !ws.isLoadingDiff() && ws.loadedDiff() && ws.loadedDiff()->path == path;
    };
    double rendered = 1e300;
    int hunks = 0;
    for (int run = 0; run < 9; ++run) {
        bare.selectFiles({smallPath});
        waitUntil([&] { return loaded(bare, smallPath); });
        QElapsedTimer bareClock;
        bareClock.start();
        bare.selectFiles({bigPath});
        waitUntil([&] { return loaded(bare, bigPath); });
        modelOnly = std::min(modelOnly, bareClock.nsecsElapsed() / 1e6);

        workspace.selectFiles({smallPath});
        waitUntil([&] {
            const auto& diff = scroll->diffModel()->diff();
            return !workspace.isLoadingDiff() && diff && diff->path == smallPath;
        });
        QCoreApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        first.arm(&clock);
        workspace.selectFiles({bigPath});
        if (!waitUntil([&] { return first.paintedAt >= 0; })) {
            std::fprintf(stderr, "the diff was never painted\n");
            return 1;
        }
        rendered = std::min(rendered, first.paintedAt / 1e6);
        hunks = scroll->diffModel()->hunkCount();
    }
    if (hunks != hunkCount) {
        std::fprintf(stderr, "expected %d hunks, the view shows %d\n", hunkCount, hunks);
        return 1;
    }
    const int diffLines = workspace.loadedDiff()->lineCount;
    bench::report(
        QStringLiteral("git-diff-render"), rendered, QStringLiteral("ms"), modelOnly,
        QStringLiteral("select a file whose diff has %1 lines in %2 hunks -> first painted diff; goal "
                       "<= 50 ms; baseline: the same selection in a workspace without a screen, to the "
                       "loaded diff")
            .arg(diffLines)
            .arg(hunks));

    // --- Scrolling end to end ------------------------------------------------------------------
    QStringList plainLines;
    for (const auto& hunk : workspace.loadedDiff()->hunks) {
        plainLines.append(hunk.header);
        for (const auto& line : hunk.lines)
            plainLines.append(line.text);
    }
    double stall = 0;
    double plainStall = 0;
    {
        QListView plain;
        QStringListModel model(plainLines);
        plain.setModel(&model);
        plain.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        plain.setUniformItemSizes(true);
        plain.resize(1000, 700);
        plain.show();
        QCoreApplication::processEvents();
        for (int run = 0; run < 3; ++run) {
            stall = std::max(stall, 0.0);
            const double viewStall = scrollStall(*scroll);
            const double listStall = scrollStall(plain);
            stall = run == 0 ? viewStall : std::min(stall, viewStall);
            plainStall = run == 0 ? listStall : std::min(plainStall, listStall);
        }
    }
    bench::report(
        QStringLiteral("git-diff-scroll-stall"), stall, QStringLiteral("ms"), plainStall,
        QStringLiteral("longest main-thread stall scrolling the %1-row diff top to bottom, half a page per "
                       "turn (best of 3); goal <= 16 ms; baseline: a plain list view of the same lines")
            .arg(plainLines.size()));

    // --- The 571-hunk diff ---------------------------------------------------------------------
    const QString text = syntheticDiff();
    gitcore::GitFileDiff synthetic;
    const double parse = bench::bestSeconds(7, [&] {
        synthetic = gitcore::GitParsers::parseUnifiedDiff(text, QStringLiteral("big.php"),
                                                          gitcore::GitDiffScope::remaining, true);
    });
    if (synthetic.hunks.size() != syntheticHunks) {
        std::fprintf(stderr, "the synthetic diff parsed into %d hunks\n", int(synthetic.hunks.size()));
        return 1;
    }
    views::GitDiffScroll view;
    view.resize(1000, 700);
    view.show();
    QCoreApplication::processEvents();
    FirstPaint painted;
    painted.ready = [&] {
        return view.diffModel()->diff().has_value() && view.verticalScrollBar()->maximum() > 0;
    };
    view.viewport()->installEventFilter(&painted);
    double shown = 1e300;
    for (int run = 0; run < 7; ++run) {
        view.diffModel()->setDiff(std::nullopt);
        QCoreApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        painted.arm(&clock);
        view.diffModel()->setDiff(synthetic);
        waitUntil([&] { return painted.paintedAt >= 0; });
        shown = std::min(shown, painted.paintedAt / 1e6);
    }
    bench::report(
        QStringLiteral("git-diff-render-571"), shown, QStringLiteral("ms"), parse * 1000,
        QStringLiteral("a parsed diff of %1 lines in 571 hunks handed to the diff view -> first paint; "
                       "baseline: parsing the same diff text")
            .arg(synthetic.lineCount));
    waitUntil([&] { return workspace.loadsInFlight() == 0 && bare.loadsInFlight() == 0; });
    return 0;
}
