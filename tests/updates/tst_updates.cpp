#include "FakePrompts.h"
#include "FakeWebServer.h"
#include "Screenshots.h"
#include "TestMain.h"
#include "TestPaths.h"
#include "WaitFor.h"

#include "app/AppServices.h"
#include "models/SecretStore.h"
#include "platform/AppDataDir.h"
#include "services/updates/UpdateChecker.h"
#include "views/common/SemanticColors.h"
#include "views/help/AboutDialog.h"
#include "views/help/HelpMenu.h"
#include "views/help/UpdateDialog.h"
#include "views/settings/GeneralSettingsPane.h"
#include "views/window/MainWindow.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSettings>

using namespace halvik;
using halvik::test::FakeWebServer;

namespace {

QByteArray feed(const QString& version, const QString& url = "https://halvik.app/download",
                const QString& notes = "Faster Git history.")
{
    return QJsonDocument(QJsonObject{{"version", version}, {"url", url}, {"notes", notes}}).toJson();
}

// A release feed on 127.0.0.1 that HALVIK_UPDATES_URL points at while it lives.
struct LocalFeed
{
    explicit LocalFeed(const QByteArray& body, int status = 200)
    {
        server.setResponse({status, {{"Content-Type", "application/json"}}, body});
        server.start();
        qputenv("HALVIK_UPDATES_URL",
                server.url().resolved(QUrl("/releases/latest.json")).toString().toUtf8());
    }
    ~LocalFeed() { qputenv("HALVIK_UPDATES_URL", "http://127.0.0.1:9/latest.json"); }
    FakeWebServer server;
};

// The feed's address on a port where nothing listens.
void pointAtNothing()
{
    qputenv("HALVIK_UPDATES_URL",
            QString("http://127.0.0.1:%1/latest.json").arg(test::unusedLocalPort()).toUtf8());
}

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the program while this process keeps answering as the feed.
Run checkUpdate(const QStringList& args)
{
    QProcess process;
    process.start(test::halvikBinary(), QStringList{"check-update"} + args);
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

UpdateCheckResult checkNow(const QString& currentVersion = "1.2.0")
{
    UpdateChecker checker(currentVersion, 5000);
    return halvik::waitFor(checker.check());
}

QString failureOf(const QString& currentVersion = "1.2.0")
{
    try {
        checkNow(currentVersion);
    } catch (const UpdateCheckError& error) {
        return error.description();
    }
    return {};
}

} // namespace

class UpdatesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void versionsCompareNumberByNumber()
    {
        using ReleaseFeed::compareVersions;
        QVERIFY(compareVersions("1.2.10", "1.2.9") > 0);
        QVERIFY(compareVersions("2.0.0", "1.99.99") > 0);
        QVERIFY(compareVersions("0.9", "0.10") < 0);
        QCOMPARE(compareVersions("1.2", "1.2.0"), 0);
        QCOMPARE(compareVersions("v1.3.0", "1.3.0"), 0);
        QVERIFY(ReleaseFeed::isVersion("10.0.1") && ReleaseFeed::isVersion("v2.1"));
        for (const char* bad : {"", "latest", "1..2", "1.2.x", "-1.0", "+1.0", "1.2.3.4.5"})
            QVERIFY2(!ReleaseFeed::isVersion(bad), bad);
    }

    // Anything but the documented document is refused as a whole, never half-read.
    void malformedFeedsAreRefused()
    {
        const Release release = ReleaseFeed::parse(feed("1.4.0", "https://halvik.app/1.4"));
        QCOMPARE(release, (Release{"1.4.0", QUrl("https://halvik.app/1.4"), "Faster Git history."}));
        QCOMPARE(ReleaseFeed::parse("{\"version\": \"1.4.0\", \"url\": \"https://h.example/x\"}").notes,
                 QString());
        const QList<QByteArray> bad{
            "<html>Not here</html>",
            "[]",
            "{\"url\": \"https://halvik.app\"}",
            "{\"version\": 14, \"url\": \"https://halvik.app\"}",
            "{\"version\": \"newest\", \"url\": \"https://halvik.app\"}",
            "{\"version\": \"1.4.0\"}",
            "{\"version\": \"1.4.0\", \"url\": \"ftp://halvik.app/x\"}",
            "{\"version\": \"1.4.0\", \"url\": \"javascript:alert(1)\"}",
            "{\"version\": \"1.4.0\", \"url\": \"https://halvik.app\", \"notes\": [\"a\"]}"};
        for (const QByteArray& body : bad) {
            bool refused = false;
            try {
                ReleaseFeed::parse(body);
            } catch (const UpdateCheckError& error) {
                refused = error.description() == UpdateCheckError::malformed().description();
            }
            QVERIFY2(refused, body.constData());
        }
    }

    // Against a local feed: newer, the same, malformed, an HTTP error and no server at all.
    void checkAgainstALocalFeed()
    {
        {
            LocalFeed local(feed("1.3.0", "https://halvik.app/download/1.3.0"));
            const UpdateCheckResult newer = checkNow("1.2.0");
            QVERIFY(newer.isUpdateAvailable());
            QCOMPARE(newer.message(), QString("Halvik 1.3.0 is available."));
            QCOMPARE(newer.latest.url, QUrl("https://halvik.app/download/1.3.0"));
            QCOMPARE(local.server.requestLines().value(0), QByteArray("GET /releases/latest.json HTTP/1.1"));

            const UpdateCheckResult same = checkNow("1.3.0");
            QVERIFY(!same.isUpdateAvailable());
            QCOMPARE(same.message(), QString("Halvik is up to date."));
            // A build newer than the feed (a development build) is up to date too.
            QCOMPARE(checkNow("1.4.0").message(), QString("Halvik is up to date."));
        }
        {
            LocalFeed local("{\"version\": ");
            QCOMPARE(failureOf(), UpdateCheckError::malformed().description());
        }
        {
            LocalFeed local("Not Found", 404);
            QCOMPARE(failureOf(), QString("The update server answered with HTTP 404."));
        }
        pointAtNothing();
        QCOMPARE(failureOf(),
                 QString("Couldn’t reach the update server. Check your connection and try again."));
    }

    // `halvik check-update [--json]` says the same from the command line.
    void commandLineCheck()
    {
        {
            LocalFeed local(feed("99.0.0", "https://halvik.app/download/99"));
            const Run plain = checkUpdate({});
            QCOMPARE(plain.exitCode, 0);
            QCOMPARE(plain.out,
                     QString("Halvik 99.0.0 is available.\nDownload: https://halvik.app/download/99\n\n"
                             "Faster Git history.\n"));
            const Run json = checkUpdate({"--json"});
            QCOMPARE(json.exitCode, 0);
            const QJsonObject object = QJsonDocument::fromJson(json.out.toUtf8()).object();
            QCOMPARE(object["current"].toString(), QString(HALVIK_VERSION));
            QCOMPARE(object["latest"].toString(), QString("99.0.0"));
            QCOMPARE(object["available"].toBool(), true);
            QCOMPARE(object["url"].toString(), QString("https://halvik.app/download/99"));
            QCOMPARE(object["message"].toString(), QString("Halvik 99.0.0 is available."));
        }
        {
            LocalFeed local(feed(HALVIK_VERSION));
            const Run same = checkUpdate({});
            QCOMPARE(same.exitCode, 0);
            QCOMPARE(same.out, QString("Halvik is up to date.\n"));
            QCOMPARE(QJsonDocument::fromJson(checkUpdate({"--json"}).out.toUtf8())
                         .object()["available"]
                         .toBool(true),
                     false);
        }
        {
            LocalFeed local("[1, 2]");
            const Run malformed = checkUpdate({});
            QCOMPARE(malformed.exitCode, 1);
            QCOMPARE(malformed.err, "halvik: " + UpdateCheckError::malformed().description() + "\n");
        }
        pointAtNothing();
        const Run offline = checkUpdate({"--json"});
        QCOMPARE(offline.exitCode, 1);
        QCOMPARE(offline.out, QString());
        QCOMPARE(offline.err, "halvik: " + UpdateCheckError::unreachable().description() + "\n");
        QCOMPARE(checkUpdate({"--verbose"}).exitCode, 2);
    }

    void weeklyCheckIsOffUntilAskedAndThenWeekly()
    {
        const QDateTime now(QDate(2026, 12, 7), QTime(9, 0), Qt::UTC);
        QVERIFY(!UpdateChecker::isWeeklyCheckDue(false, {}, now));
        QVERIFY(UpdateChecker::isWeeklyCheckDue(true, {}, now));
        QVERIFY(!UpdateChecker::isWeeklyCheckDue(true, now.addDays(-6), now));
        QVERIFY(UpdateChecker::isWeeklyCheckDue(true, now.addDays(-7), now));
        // A clock set back must not silence the check for ever.
        QVERIFY(UpdateChecker::isWeeklyCheckDue(true, now.addDays(30), now));

        const QString file = QDir::homePath() + "/weekly.ini";
        {
            AppPreferences preferences(std::make_unique<QSettings>(file, QSettings::IniFormat));
            QCOMPARE(preferences.checkForUpdatesWeekly(), false);
            preferences.setCheckForUpdatesWeekly(true);
            preferences.setLastUpdateCheck(now);
        }
        AppPreferences again(std::make_unique<QSettings>(file, QSettings::IniFormat));
        QVERIFY(again.checkForUpdatesWeekly());
        QCOMPARE(again.lastUpdateCheck(), now);
    }

    // The dialog of "Check for Updates…" in each outcome, with Download opening the page.
    void updateDialogShowsEachOutcome()
    {
        LocalFeed local(feed("99.0.0", "https://halvik.app/download/99"));
        views::UpdateDialog dialog;
        QList<QUrl> opened;
        dialog.setUrlOpener([&](const QUrl& url) {
            opened << url;
            return true;
        });
        dialog.show();
        QCOMPARE(dialog.headline()->text(), QString("Checking for updates…"));
        QVERIFY(test::saveLightAndDark(&dialog, "update-checking"));
        halvik::waitFor(dialog.check());
        QCOMPARE(dialog.headline()->text(), QString("Halvik 99.0.0 is available."));
        QVERIFY(dialog.details()->text().contains("Faster Git history."));
        QVERIFY(dialog.downloadButton()->isVisible());
        QVERIFY(test::saveLightAndDark(&dialog, "update-available"));
        dialog.downloadButton()->click();
        QCOMPARE(opened, QList<QUrl>{QUrl("https://halvik.app/download/99")});

        local.server.setResponse({200, {}, feed(HALVIK_VERSION)});
        halvik::waitFor(dialog.check());
        QCOMPARE(dialog.headline()->text(), QString("Halvik is up to date."));
        QVERIFY(!dialog.downloadButton()->isVisible());
        QVERIFY(test::saveLightAndDark(&dialog, "update-up-to-date"));
        QVERIFY(!dialog.downloadButton()->isVisible());

        pointAtNothing();
        halvik::waitFor(dialog.check());
        QCOMPARE(dialog.headline()->text(), QString("Couldn’t check for updates"));
        QCOMPARE(dialog.details()->text(), UpdateCheckError::unreachable().description());
        QVERIFY(!dialog.downloadButton()->isVisible());
        // The failure's red follows the appearance, and is not the light one on a dark window.
        const QColor lightRed = dialog.details()->palette().color(QPalette::WindowText);
        QCOMPARE(lightRed, views::semanticColor(views::Semantic::danger, dialog.palette()));
        views::applyColorScheme(views::ColorScheme::dark);
        QCoreApplication::processEvents();
        QCOMPARE(dialog.details()->palette().color(QPalette::WindowText),
                 views::semanticColor(views::Semantic::danger, dialog.palette()));
        QVERIFY(dialog.details()->palette().color(QPalette::WindowText) != lightRed);
        views::applyColorScheme(views::ColorScheme::light);
        QVERIFY(test::saveLightAndDark(&dialog, "update-offline"));
        QVERIFY(!dialog.downloadButton()->isVisible());
        QCOMPARE(opened.size(), 1);
    }

    // The real window's Help menu: About shows the version, licence, page and data folder;
    // Check for Updates… asks the feed; the weekly check stays silent until switched on.
    void helpMenuOfTheWindow()
    {
        LocalFeed local(feed("99.0.0"));
        SecretStore secrets;
        test::FakePrompts prompts;
        AppServices services(
            secrets, prompts, HerdRoots::system(),
            std::make_unique<QSettings>(QDir::homePath() + "/help.ini", QSettings::IniFormat));
        views::MainWindow window(services);
        window.show();
        QMenu* help = nullptr;
        for (QAction* action : window.menuBar()->actions())
            if (action->text() == "&Help")
                help = action->menu();
        QVERIFY(help);
        QStringList titles;
        for (QAction* action : help->actions())
            if (!action->isSeparator())
                titles << action->text();
        QCOMPARE(titles, QStringList({"Check for Updates…", "About Halvik"}));
        auto* menu = window.findChild<views::HelpMenu*>("helpMenu");
        QVERIFY(menu);

        // Nothing was asked at start-up: the weekly check is off by default.
        QTest::qWait(100);
        QVERIFY(local.server.requestLines().isEmpty());
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QCOMPARE(halvik::waitFor(menu->checkWeeklyIfDue(now)), false);
        QVERIFY(local.server.requestLines().isEmpty());

        menu->aboutAction()->trigger();
        auto* about = window.findChild<views::AboutDialog*>("aboutDialog");
        QVERIFY(about && about->isVisible());
        QCOMPARE(about->versionLabel()->text(), QString("Version %1").arg(HALVIK_VERSION));
        QCOMPARE(about->dataFolderLabel()->text(), AppDataDir::directory());
        QVERIFY(about->pageLink()->text().contains("href=\"https://halvik.app\""));
        QStringList shown;
        about->setFolderShower([&](const QString& folder) { shown << folder; });
        about->showDataFolderButton()->click();
        QCOMPARE(shown, QStringList{AppDataDir::directory()});
        // The link is drawn in the semantic blue of the appearance in use, light or dark.
        views::applyColorScheme(views::ColorScheme::dark);
        QCoreApplication::processEvents();
        QVERIFY(about->pageLink()->text().contains(
            views::semanticColor(views::Semantic::info, about->palette()).name()));
        views::applyColorScheme(views::ColorScheme::light);
        QCoreApplication::processEvents();
        QVERIFY(about->pageLink()->text().contains(
            views::semanticColor(views::Semantic::info, about->palette()).name()));
        QVERIFY(test::saveLightAndDark(about, "about-halvik"));
        about->close();

        menu->checkForUpdatesAction()->trigger();
        auto* dialog = window.findChild<views::UpdateDialog*>("updateDialog");
        QVERIFY(dialog && dialog->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(dialog->headline()->text(), QString("Halvik 99.0.0 is available."), 10000);
        dialog->close();
        QTRY_VERIFY(!window.findChild<views::UpdateDialog*>("updateDialog"));

        // Switched on: a week after the last check, the start-up check asks and speaks.
        services.setSelectedSection(SidebarSection::settings); // the section is built when first shown
        auto* general = window.findChild<views::GeneralSettingsPane*>();
        QVERIFY(general && !general->weeklyUpdateCheck()->isChecked());
        general->weeklyUpdateCheck()->click();
        QVERIFY(services.preferences().checkForUpdatesWeekly());
        services.preferences().setLastUpdateCheck(now.addDays(-3));
        QCOMPARE(halvik::waitFor(menu->checkWeeklyIfDue(now)), false);
        const qsizetype asked = local.server.requestLines().size();
        services.preferences().setLastUpdateCheck(now.addDays(-8));
        QCOMPARE(halvik::waitFor(menu->checkWeeklyIfDue(now)), true);
        QCOMPARE(local.server.requestLines().size(), asked + 1);
        QCOMPARE(services.preferences().lastUpdateCheck(), now);
        dialog = window.findChild<views::UpdateDialog*>("updateDialog");
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->headline()->text(), QString("Halvik 99.0.0 is available."));
        dialog->close();
    }
};

HALVIK_TEST_MAIN(UpdatesTest)
#include "tst_updates.moc"
