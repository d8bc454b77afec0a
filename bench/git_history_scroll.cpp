// git-history-scroll: the Git tab's History list after "Load more" brought in 5,000 commits,
// scrolled from top to bottom a quarter page per event-loop turn; the figure is the longest
// main-thread stall of a scroll (the best of five). Baseline: the same scroll over a plain list view of the
// same subjects with the default delegate.
#include "BenchGit.h"
#include "BenchReport.h"
#include "FakePrompts.h"
#include "StallMeter.h"

#include "WaitFor.h"
#include "app/GitWorkspace.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "services/ProcessRunner.h"
#include "services/git/GitService.h"
#include "views/git/GitHistoryList.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListView>
#include <QScrollBar>
#include <QStringListModel>
#include <QTemporaryDir>

#include <cstdio>

using namespace halvik;

namespace {

constexpr int commitCount = 5'100;
constexpr int wanted = 5'000;
const QString repoPath = QStringLiteral("/tmp/halvik-bench-history");

bool ensureRepository()
{
    return bench::keptRepository(repoPath, [] {
        QByteArray stream;
        const QByteArray who = "Bench Person <bench@example.com> ";
        for (int c = 0; c < commitCount; ++c) {
            stream += "commit refs/heads/main\nmark :" + QByteArray::number(c + 1) + "\ncommitter " + who +
                      QByteArray::number(1600000000 + c * 60) + " +0000\n";
            bench::appendData(stream,
                              "Change number " + QByteArray::number(c) + " to the site's pages and styles");
            if (c > 0)
                stream += "from :" + QByteArray::number(c) + "\n";
            stream += "M 100644 inline notes.txt\n";
            bench::appendData(stream, QByteArray::number(c) + "\n");
        }
        return bench::runGit(repoPath, {"fast-import", "--quiet"}, stream) &&
               bench::runGit(repoPath, {"checkout", "-q", "-f", "main"});
    });
}

// Scrolls `view` from top to bottom, one quarter page per turn of the event loop.
double scrollStall(QListView& view)
{
    QScrollBar* bar = view.verticalScrollBar();
    bar->setValue(0);
    QCoreApplication::processEvents();
    bench::StallMeter meter;
    meter.start();
    const int step = std::max(1, bar->pageStep() / 4);
    while (bar->value() < bar->maximum()) {
        bar->setValue(bar->value() + step);
        view.viewport()->repaint();
        QCoreApplication::processEvents();
    }
    return meter.stopMilliseconds();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariable("QT_QPA_PLATFORM", "offscreen").toUtf8());
    QApplication app(argc, argv);
    QTemporaryDir home;
    if (!ensureRepository()) {
        std::fprintf(stderr, "could not build the benchmark repository\n");
        return 1;
    }
    ProcessRunner runner;
    GitService service(runner);
    SecretStore secrets(home.filePath(QStringLiteral("secrets.json")));
    SiteStore store(secrets, home.path());
    test::FakePrompts prompts; // nothing here asks; a question would be cancelled
    const auto site = std::make_shared<Site>(QStringLiteral("bench"), repoPath);
    GitWorkspace workspace(service, store, prompts, site);
    workspace.setListTab(gitcore::GitListTab::history);
    halvik::waitFor(workspace.refresh(false));

    views::GitHistoryList list(workspace);
    list.resize(380, 900);
    list.show();
    QCoreApplication::processEvents();
    int presses = 0;
    while (workspace.snapshot().commits.size() < wanted && workspace.historyHasMore()) {
        halvik::waitFor(workspace.loadMoreHistory());
        ++presses;
    }
    while (workspace.isLoadingDiff())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const int rows = list.view()->model()->rowCount();

    QStringList subjects;
    for (const auto& commit : workspace.snapshot().commits)
        subjects << commit.subject;
    QStringListModel plainModel(subjects);
    QListView plain;
    plain.setModel(&plainModel);
    plain.setUniformItemSizes(true);
    plain.resize(list.view()->size());
    plain.show();
    QCoreApplication::processEvents();

    // Each round's longest stall; the best round counts (shared machines are noisy upwards only).
    double worst = 1e300;
    double worstPlain = 1e300;
    for (int round = 0; round < 5; ++round) {
        worst = std::min(worst, scrollStall(*list.view()));
        worstPlain = std::min(worstPlain, scrollStall(plain));
    }
    bench::report(
        QStringLiteral("git-history-scroll"), worst, QStringLiteral("ms"), worstPlain,
        QStringLiteral("longest stall scrolling %1 commits top to bottom (after %2 presses of Load more) "
                       "in the best of 5 rounds; goal 16 ms")
            .arg(rows)
            .arg(presses));
    return 0;
}
