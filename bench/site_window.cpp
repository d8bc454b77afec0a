// The main window with 1,000 sites in the store.
// site-list-filter: the slowest of 16 keystrokes in "Search Sites", from the key to the list
//   repainted with the filtered rows, against filtering the same model without a view.
// window-start: from starting the `halvik` program to its first paint of the sites list with the
//   store's sites in it (best of 5), against `halvik sites` printing the same store.
// idle-memory: the window's resident memory three seconds after that paint, against the same
//   window with an empty store.
#include "BenchMachine.h"
#include "BenchReport.h"
#include "BenchWindow.h"
#include "FakePrompts.h"

#include "app/AppServices.h"
#include "views/sites/SitesPage.h"
#include "views/window/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QSortFilterProxyModel>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <optional>

using namespace halvik;
using namespace halvik::bench;

namespace {

constexpr int siteCount = 1000;
constexpr int runs = 5;

void addSites(SiteStore& store, const QString& root)
{
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-900);
    for (int i = 0; i < siteCount; ++i) {
        const QString path = root + QStringLiteral("/Sites/site-%1").arg(i);
        QDir().mkpath(path);
        auto site = std::make_shared<Site>(
            QStringLiteral("Client Site %1 %2").arg(i).arg(i % 7 ? "Shop" : "Blog"), path);
        site->setCreatedAt(start.addSecs(i * 3600));
        store.insertSite(site);
    }
    store.save();
    store.flush();
}

void typeKey(QLineEdit* field, Qt::Key key, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(field, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(field, &release);
}

// The slowest keystroke, typing "shop 9" and erasing it again, each followed by the list's repaint.
std::pair<double, double> measureFilter(AppServices& services)
{
    views::MainWindow window(services);
    window.resize(1180, 760);
    window.show();
    QCoreApplication::processEvents();
    QLineEdit* search = window.sitesPage()->searchField();
    QListView* list = window.sitesPage()->list();
    search->setFocus();
    double slowest = 0;
    const QString typed = QStringLiteral("shop 9");
    QList<std::pair<Qt::Key, QString>> keys;
    for (QChar c : typed)
        keys.append({Qt::Key(c.toUpper().unicode()), QString(c)});
    for (int i = 0; i < typed.size(); ++i)
        keys.append({Qt::Key_Backspace, QString()});
    for (int round = 0; round < 2; ++round)
        for (const auto& [key, text] : keys) {
            QElapsedTimer timer;
            timer.start();
            typeKey(search, key, text);
            list->viewport()->repaint();
            slowest = std::max(slowest, timer.nsecsElapsed() / 1e6);
        }
    if (!search->text().isEmpty() || list->model()->rowCount() != siteCount)
        qFatal("the search did not come back to every site");

    // Baseline: the same filter strings on a bare proxy over the list's model, no view.
    auto* proxy = qobject_cast<QSortFilterProxyModel*>(list->model());
    QSortFilterProxyModel bare;
    bare.setSourceModel(proxy->sourceModel());
    bare.setFilterCaseSensitivity(Qt::CaseInsensitive);
    double bareSlowest = 0;
    for (int length = 1; length <= typed.size(); ++length) {
        QElapsedTimer timer;
        timer.start();
        bare.setFilterFixedString(typed.left(length));
        bare.rowCount();
        bareSlowest = std::max(bareSlowest, timer.nsecsElapsed() / 1e6);
    }
    return {slowest, bareSlowest};
}

double runSitesCommand(const QString& home)
{
    QProcess process;
    QProcessEnvironment env = offscreenEnvironment(home);
    env.remove("QT_QPA_PLATFORM");
    process.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(HALVIK_BINARY), {QStringLiteral("sites")});
    process.waitForFinished(20000);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (process.exitCode() != 0 || process.readAllStandardOutput().count('\n') < siteCount)
        qFatal("halvik sites did not list the store");
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir root;
    const QString full = root.path() + "/full";
    const QString empty = root.path() + "/empty";
    bench::isolateHome(empty); // only makes its folders; the benchmark itself lives in `full`
    bench::isolateHome(full);
    QApplication app(argc, argv);

    {
        SecretStore secrets;
        test::FakePrompts prompts;
        AppServices services(secrets, prompts);
        addSites(services.store(), full);
        const auto [slowest, bare] = measureFilter(services);
        bench::report("site-list-filter", slowest, "ms", bare,
                      "slowest of 12 keystrokes typing and erasing \"shop 9\" over 1,000 sites, to the "
                      "repainted list; baseline: the same filters on a bare proxy model");
    }

    double window = 1e300, command = 1e300, firstFrame = 1e300;
    for (int i = 0; i < runs; ++i) {
        window = std::min(window, runWindow(full, "sites-painted", 0).sitesPainted);
        firstFrame = std::min(firstFrame, runWindow(full, "window-painted", 0).sitesPainted);
        command = std::min(command, runSitesCommand(full));
    }
    bench::report("window-start", window * 1000, "ms", command * 1000,
                  QStringLiteral("best of %1: start to the sites list painted with 1,000 sites (first frame "
                                 "%2 ms); baseline: halvik sites printing the same store")
                      .arg(runs)
                      .arg(firstFrame * 1000, 0, 'f', 0));

    const WindowRun loaded = runWindow(full, "sites-painted", 3000);
    const WindowRun bare = runWindow(empty, "window-painted", 3000);
    bench::report("idle-memory", loaded.residentKiB / 1024.0, "MiB", bare.residentKiB / 1024.0,
                  "resident memory 3 s after the window painted 1,000 sites; baseline: the window with "
                  "an empty store");
    return 0;
}
