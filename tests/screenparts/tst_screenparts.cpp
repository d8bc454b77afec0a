#include "FakePrompts.h"
#include "Screenshots.h"
#include "TestMain.h"
#include "WaitFor.h"
#include "composer/ComposerFixture.h"

#include "views/accounts/ConnectSheet.h"
#include "views/common/SemanticColors.h"
#include "views/common/WidgetPrompts.h"
#include "views/settings/EditorChooser.h"
#include "views/site/ConsoleCommandsSheet.h"

#include "async/FireAndForget.h"
#include "gitcore/GitBranchName.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "platform/EditorApplications.h"
#include "services/SiteFilesMonitor.h"
#include "services/accounts/SourceControlService.h"
#include "services/composer/ManifestCache.h"

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>

using namespace halvik;
using namespace halvik::views;
using halvik::test::ComposerFixture;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QString desktopEntry(const QString& name, const QString& mime, const QString& extra = {})
{
    return "[Desktop Entry]\nType=Application\nName=" + name +
           "\nName[de]=Anders\nExec=/usr/bin/true %F\nIcon=" + name.toLower() + "\nMimeType=" + mime + "\n" +
           extra;
}

// Whether any pixel of the label's picture is close to `colour`.
bool drawsColour(QLabel* label, const QColor& colour)
{
    const QImage image = label->grab().toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (qAbs(pixel.red() - colour.red()) + qAbs(pixel.green() - colour.green()) +
                    qAbs(pixel.blue() - colour.blue()) <
                12)
                return true;
        }
    return false;
}

} // namespace

class ScreenPartsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { applyColorScheme(ColorScheme::light); }

    // Every meaningful colour is text somewhere, so each reads at 4.5:1 or better on the
    // window and on the base (lists, fields) of both appearances.
    void semanticColoursReadInBothAppearances()
    {
        QVERIFY(qAbs(contrastRatio(Qt::black, Qt::white) - 21.0) < 0.01);
        QVERIFY(qAbs(contrastRatio(QColor(0x77, 0x77, 0x77), Qt::white) - 4.48) < 0.01);
        for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
            applyColorScheme(scheme);
            const QPalette palette = QApplication::palette();
            QCOMPARE(isDark(palette), scheme == ColorScheme::dark);
            for (const Semantic role : allSemantics())
                for (const QPalette::ColorRole ground : {QPalette::Window, QPalette::Base}) {
                    const double ratio = contrastRatio(semanticColor(role, palette), palette.color(ground));
                    QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1 on %2 in %3: %4:1")
                                                          .arg(int(role))
                                                          .arg(ground == QPalette::Window ? "window" : "base")
                                                          .arg(scheme == ColorScheme::dark ? "dark" : "light")
                                                          .arg(ratio, 0, 'f', 2)));
                }
        }
    }

    // Colours set on a label and links drawn in one appearance follow a change to the other.
    void textAndLinksFollowTheAppearance()
    {
        applyColorScheme(ColorScheme::light);
        QWidget holder;
        auto* error = new QLabel("Halvik’s local server didn’t start.", &holder);
        setSemanticText(error, Semantic::danger);
        auto* link = new QLabel("<a href=\"http://shop.test\">http://shop.test</a>", &holder);
        link->move(0, 40);
        link->setTextFormat(Qt::RichText);
        recolourLinks(link);
        holder.resize(400, 80);
        holder.show();
        QCOMPARE(error->palette().color(QPalette::WindowText),
                 semanticColor(Semantic::danger, QApplication::palette()));
        const QColor lightLink = QApplication::palette().color(QPalette::Link);
        QVERIFY(drawsColour(link, lightLink));

        applyColorScheme(ColorScheme::dark);
        QCoreApplication::processEvents();
        const QPalette dark = QApplication::palette();
        QCOMPARE(error->palette().color(QPalette::WindowText), semanticColor(Semantic::danger, dark));
        QVERIFY(drawsColour(link, dark.color(QPalette::Link)));
        QVERIFY(!drawsColour(link, lightLink));
    }

    // The editor chooser lists what opens folders or text files, code editors first, by name.
    void editorChooserOffersInstalledEditors()
    {
        QTemporaryDir dir;
        const QString mine = dir.filePath("home/applications");
        const QString system = dir.filePath("system/applications");
        writeFile(mine + "/code.desktop", desktopEntry("Code", "text/plain;inode/directory;").toUtf8());
        writeFile(system + "/org.kde.kate.desktop", desktopEntry("Kate", "text/plain;").toUtf8());
        writeFile(system + "/notes.desktop", desktopEntry("Alpha Notes", "text/plain;").toUtf8());
        writeFile(system + "/files.desktop", desktopEntry("Files", "inode/directory;").toUtf8());
        writeFile(system + "/viewer.desktop", desktopEntry("Image Viewer", "image/png;image/jpeg;").toUtf8());
        writeFile(system + "/python3.desktop", desktopEntry("Python", "text/x-python;").toUtf8());
        writeFile(system + "/hidden.desktop",
                  desktopEntry("Hidden Editor", "text/plain;", "NoDisplay=true\n").toUtf8());
        // The user's own entry of the same id wins over the system's.
        writeFile(system + "/code.desktop", desktopEntry("System Code", "text/plain;").toUtf8());
        writeFile(system + "/link.desktop",
                  ("[Desktop Entry]\nType=Link\nName=Link\nMimeType=text/plain;\n"));

        const QList<EditorApplications::Application> found = EditorApplications::candidates({mine, system});
        QStringList names;
        for (const auto& application : found)
            names << application.name;
        QCOMPARE(names, QStringList({"Code", "Kate", "Alpha Notes", "Files"}));
        QCOMPARE(found.first().desktopFile, mine + "/code.desktop");
        QCOMPARE(found.first().icon, QString("code"));

        EditorChooser chooser(found, "Choose the editor Halvik should open site folders with.", "Choose");
        chooser.show();
        QCOMPARE(chooser.list()->count(), 4);
        QVERIFY(chooser.chooseButton()->isEnabled());
        chooser.list()->setCurrentRow(1);
        chooser.chooseButton()->click();
        QCOMPARE(chooser.result(), int(QDialog::Accepted));
        QCOMPARE(chooser.chosenPath(), system + "/org.kde.kate.desktop");
        QVERIFY(halvik::test::saveLightAndDark(&chooser, "editor-chooser"));

        // "Other…" takes a program from anywhere.
        EditorChooser other(found, QString(), "Choose");
        other.show();
        other.chooseOther("/opt/editor/bin/edit");
        QCOMPARE(other.chosenPath(), QString("/opt/editor/bin/edit"));
        QCOMPARE(other.result(), int(QDialog::Accepted));
    }

    // Through the window's prompts: the chooser's pick is the editor preference's answer.
    void promptsAskWithTheChooser()
    {
        QWidget parent;
        parent.show();
        WidgetPrompts prompts;
        prompts.setParentWindow(&parent);
        std::optional<std::optional<QString>> answer;
        auto ask = [&]() -> QCoro::Task<> {
            // Named first: a braced temporary inside co_await is destroyed twice by g++ 12.
            EditorPanel panel{"/usr/share/applications", "Choose",
                              "Choose the editor Halvik should open site folders with."};
            answer = co_await prompts.chooseEditor(panel);
        };
        fireAndForget(&parent, ask());
        QTRY_VERIFY(parent.findChild<EditorChooser*>());
        auto* chooser = parent.findChild<EditorChooser*>();
        QCOMPARE(chooser->chooseButton()->text(), QString("Choose"));
        chooser->chooseOther("/usr/bin/true");
        QTRY_VERIFY(answer.has_value());
        QCOMPARE(*answer, std::optional<QString>("/usr/bin/true"));
    }

    // Names are checked as typed by the same rules Git applies when it creates the branch.
    void branchNamesFollowGitsRules()
    {
        const QStringList names{
            "feature/login", "fix-1",    "v1.2",       "a/b/c",         "ünïcode",    "bad..name",
            "bad name",      "-leading", "trailing.",  "trailing/",     "/leading",   "a//b",
            "a/.hidden",     "x.lock",   "a/b.lock/c", "at@{brace",     "@",          "tilde~",
            "caret^",        "colon:",   "question?",  "star*",         "open[",      "back\\slash",
            "tab\tname",     "HEAD",     "ok@sign",    "dot.in.middle", "end.lock.ok"};
        for (const QString& name : names) {
            QProcess git;
            git.start("/usr/bin/git", {"check-ref-format", "--branch", name});
            QVERIFY(git.waitForFinished(10000));
            const bool gitTakes = git.exitCode() == 0;
            const std::optional<QString> problem = gitcore::branchNameProblem(name);
            QVERIFY2(gitTakes == !problem.has_value(),
                     qPrintable(name + (gitTakes ? " is taken by git" : " is refused by git")));
            if (problem)
                QVERIFY(problem->endsWith(u'.'));
        }
        QVERIFY(!gitcore::branchNameProblem(QString()));
    }

    // Keys typed into the connect sheet go to the token, never to the provider picker.
    void connectSheetTypesIntoTheToken()
    {
        QTemporaryDir dir;
        SecretStore secrets{dir.filePath("secrets.json")};
        SiteStore store{secrets, dir.path()};
        ProcessRunner runner;
        SourceControlService service{store, secrets, runner};
        ConnectSheet sheet(service, SourceControlProvider::gitlab);
        sheet.show();
        QVERIFY(QTest::qWaitForWindowActive(&sheet));
        QCOMPARE(QApplication::focusWidget(), sheet.tokenField());
        QTest::keyClicks(QApplication::focusWidget(), "bitbucket-lookalike");
        QCOMPARE(sheet.model().provider(), SourceControlProvider::gitlab);
        QCOMPARE(sheet.tokenField()->text(), QString("bitbucket-lookalike"));
        // Choosing another provider hands the keys back to its token field.
        sheet.providerPicker()->setFocus();
        sheet.providerPicker()->setCurrentIndex(
            sheet.providerPicker()->findData(int(SourceControlProvider::github)));
        QCOMPARE(QApplication::focusWidget(), sheet.tokenField());
    }

    // A command list that could not be read says why in both tabs.
    void commandsSheetShowsWhyTheListFailed()
    {
        ComposerFixture fx;
        RuntimeRoots roots = fx.roots();
        roots.fixedSearch = {fx.root() + "/no-php-here"};
        roots.inheritedPath = fx.root() + "/no-php-here";
        ProcessRunner runner;
        RuntimeManager runtime(runner, roots);
        ComposerService composer(runner, runtime, nullptr);
        const SitePtr site = fx.laravelSite("no-php");
        ConsoleCommandsSheet sheet(composer, site);
        sheet.show();
        halvik::waitFor(sheet.loadCommands());
        for (int tab = 0; tab < sheet.tabs()->count(); ++tab) {
            auto* stack = qobject_cast<QStackedWidget*>(sheet.tabs()->widget(tab));
            auto* shown = qobject_cast<QLabel*>(stack->currentWidget());
            QVERIFY(shown);
            QCOMPARE(shown->objectName(), QString("listingFailed"));
            QVERIFY(!shown->text().isEmpty());
            QVERIFY(!shown->text().contains("no commands") && !shown->text().contains("no CMS"));
            QCOMPARE(shown->palette().color(shown->foregroundRole()),
                     semanticColor(Semantic::danger, shown->palette()));
        }
        QVERIFY(halvik::test::saveLightAndDark(&sheet, "commands-listing-failed"));
    }

    // The files behind the Overview are read off the main thread, once per change, and the
    // manifest is parsed again only when its files changed.
    void siteFilesAreWatchedAndTheManifestCached()
    {
        QTemporaryDir dir;
        const QString site = dir.path();
        writeFile(site + "/.env", "APP_URL=http://one.test\n");
        const auto installed = [&site](const QString& version) {
            writeFile(site + "/vendor/composer/installed.json",
                      QString(R"({"packages": [{"name": "laravel/framework", "version": "%1"}]})")
                          .arg(version)
                          .toUtf8());
        };
        installed("v8.0.0");
        SiteFilesMonitor monitor;
        monitor.setQuietMs(10);
        QSignalSpy changes(&monitor, &SiteFilesMonitor::filesChanged);
        monitor.setSitePath(site);
        QVERIFY(!monitor.files()); // nothing read on the caller's thread
        QTRY_VERIFY(monitor.files());
        QCOMPARE(DotEnvFile::value("APP_URL", monitor.files()->environment),
                 std::optional<QString>("http://one.test"));
        QCOMPARE(monitor.files()->manifest.laravelVersion, std::optional<QString>("v8.0.0"));

        // A burst of writes is one read.
        changes.clear();
        for (int i = 0; i < 5; ++i)
            DotEnvFile::save(QString("APP_URL=http://burst-%1.test").arg(i), site + "/.env");
        QTRY_COMPARE(DotEnvFile::value("APP_URL", monitor.files()->environment),
                     std::optional<QString>("http://burst-4.test"));
        QVERIFY(changes.size() <= 2);

        // The manifest stays cached while its files stay, and is read again when one changes.
        const SiteManifest first = ManifestCache::read(site);
        installed("v8.1.0");
        QCOMPARE(ManifestCache::read(site).laravelVersion, std::optional<QString>("v8.1.0"));
        QTRY_COMPARE(monitor.files()->manifest.laravelVersion, std::optional<QString>("v8.1.0"));
        QCOMPARE(first.laravelVersion, std::optional<QString>("v8.0.0"));

        // Another site: the old one's changes no longer count.
        QTemporaryDir other;
        monitor.setSitePath(other.path());
        QVERIFY(!monitor.files());
        QTRY_VERIFY(monitor.files());
        QVERIFY(monitor.files()->environment.isEmpty());
        changes.clear();
        DotEnvFile::save("APP_URL=http://old.test", site + "/.env");
        QTest::qWait(200);
        QVERIFY(changes.isEmpty());
    }
};

HALVIK_TEST_MAIN(ScreenPartsTest)
#include "tst_screenparts.moc"
