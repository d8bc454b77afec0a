#include "FakeEngine.h"
#include "FakePrompts.h"
#include "NodeProject.h"
#include "Screenshots.h"
#include "TestMain.h"

#include "app/AppServices.h"
#include "services/frontend/ViteDevServer.h"
#include "services/serving/SiteProcesses.h"
#include "services/sharing/SiteTunnelService.h"
#include "views/common/LiveLogView.h"
#include "views/frontend/FrontendSection.h"
#include "views/sharing/ShareSheet.h"
#include "views/site/SiteOverviewTab.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

using namespace halvik;
using namespace halvik::test;
using namespace halvik::views;

namespace {

void copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QFileInfo& entry :
         QDir(from).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir())
            copyTree(entry.filePath(), target);
        else
            QFile::copy(entry.filePath(), target);
    }
}

} // namespace

class ShareScreensTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_bin;
    FakeEngine m_engine{m_dir.path() + QStringLiteral("/machine")};
    SecretStore m_secrets;
    FakePrompts m_prompts;
    std::unique_ptr<AppServices> m_services;

    SitePtr addSite(const QString& name, const QJsonObject& package = {})
    {
        const QString path = m_dir.path() + QStringLiteral("/sites/") + name;
        copyTree(fixturesDir() + QStringLiteral("/laravel-app"), path);
        if (!package.isEmpty()) {
            QFile file(path + QStringLiteral("/package.json"));
            file.open(QIODevice::WriteOnly);
            file.write(QJsonDocument(package).toJson());
            QDir(path).mkdir(QStringLiteral("node_modules"));
            const QDir fixtures(fixturesDir() + QStringLiteral("/frontend"));
            for (const QString& script : fixtures.entryList({QStringLiteral("*.js")}))
                QFile::copy(fixtures.filePath(script), path + QLatin1Char('/') + script);
        }
        auto site = std::make_shared<Site>(name, path);
        m_services->store().insertSite(site);
        return site;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QFile::link(
            QFileInfo(fixturesDir() + QStringLiteral("/../support/fake-cloudflared")).canonicalFilePath(),
            m_bin.filePath(QStringLiteral("cloudflared")));
        qputenv("PATH", m_bin.path().toUtf8() + ':' + qgetenv("PATH"));
        qputenv("TMPDIR", m_dir.path().toUtf8());
        RuntimeRoots roots = RuntimeRoots::system();
        roots.fixedSearch = {QStringLiteral("/usr/bin")};
        m_services = std::make_unique<AppServices>(m_secrets, m_prompts, m_engine.roots(), nullptr, roots);
        m_services->processes().devServer().setStopGrace(std::chrono::milliseconds(300));
    }

    void cleanupTestCase() { m_services->shutdown(); }

    void frontendSectionStates()
    {
        SiteOverviewTab overview(*m_services);
        overview.resize(760, 820);
        FrontendSection* frontend = overview.frontend();

        // No package.json: the reason, and nothing to start.
        overview.setSite(addSite(QStringLiteral("plain")));
        QCOMPARE(frontend->reasonLabel()->text(), QStringLiteral("No package.json in this site."));
        QVERIFY(!frontend->startStopButton()->isEnabled());
        QVERIFY(saveLightAndDark(&overview, QStringLiteral("frontend-no-package")));

        const SitePtr vite = addSite(QStringLiteral("vite"), viteProject(QStringLiteral("vite-banner.js")));
        overview.setSite(vite);
        overview.show();
        QVERIFY(frontend->reasonLabel()->isHidden());
        QCOMPARE(frontend->stateLabel()->text(), QStringLiteral("Stopped"));
        QCOMPARE(frontend->startStopButton()->text(), QStringLiteral("Start"));
        QVERIFY(frontend->openButton()->isHidden());
        QVERIFY(saveLightAndDark(&overview, QStringLiteral("frontend-stopped")));

        frontend->startStopButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(frontend->stateLabel()->text(), QStringLiteral("Running"), 15000);
        QCOMPARE(frontend->startStopButton()->text(), QStringLiteral("Stop"));
        QVERIFY(frontend->openButton()->isVisible());
        QVERIFY(frontend->urlLabel()->text().contains(QStringLiteral("http://localhost:5173/")));
        frontend->logToggle()->click();
        QTRY_VERIFY(frontend->log()->text().contains(QStringLiteral("Local:")));
        QVERIFY(frontend->log()->isVisible());
        // The log opens below its toggle, not over the section's labels.
        QVERIFY(frontend->log()->mapTo(&overview, QPoint()).y() >
                frontend->logToggle()->mapTo(&overview, QPoint(0, frontend->logToggle()->height())).y() - 1);
        QVERIFY(saveLightAndDark(&overview, QStringLiteral("frontend-running")));
        frontend->startStopButton()->click();
        QCOMPARE(frontend->stateLabel()->text(), QStringLiteral("Stopped"));

        const SitePtr broken = addSite(QStringLiteral("broken"), viteProject(QStringLiteral("crash.js")));
        overview.setSite(broken);
        frontend->startStopButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(frontend->stateLabel()->text(),
                                  QStringLiteral("Failed: Asset dev server exited with code 3"), 15000);
        QVERIFY(saveLightAndDark(&overview, QStringLiteral("frontend-failed")));
    }

    void shareSheetStates()
    {
        qputenv("FAKE_TUNNEL_REGISTER_DELAY", "2.5");
        const SitePtr site = addSite(QStringLiteral("shared"));
        QWidget window;
        ShareSheet* sheet = ShareSheet::open(*m_services, site, &window);
        QTRY_COMPARE_WITH_TIMEOUT(sheet->statusLabel()->text(), QStringLiteral("Connecting to Cloudflare…"),
                                  15000);
        QVERIFY(sheet->stopButton()->isVisible());
        QVERIFY(saveLightAndDark(sheet, QStringLiteral("share-preparing")));

        QTRY_VERIFY_WITH_TIMEOUT(!sheet->addressField()->text().isEmpty(), 15000);
        QVERIFY(sheet->addressField()->text().startsWith(QStringLiteral("https://")));
        QVERIFY(sheet->addressField()->text().endsWith(QStringLiteral(".trycloudflare.com")));
        QVERIFY(sheet->copyButton()->isVisible());
        QVERIFY(sheet->detailsToggle()->isHidden());
        QVERIFY(!sheet->retryButton()->isVisible());
        QVERIFY(saveLightAndDark(sheet, QStringLiteral("share-shared")));

        // Closing keeps sharing; opening again shows the same link without starting over.
        const QString address = sheet->addressField()->text();
        sheet->close();
        QVERIFY(m_services->processes().tunnels().isActive(site->id()));
        sheet = ShareSheet::open(*m_services, site, &window);
        QCOMPARE(sheet->addressField()->text(), address);
        sheet->stopButton()->click();
        QVERIFY(!m_services->processes().tunnels().isActive(site->id()));

        QFile::remove(site->path() + QStringLiteral("/public/index.php"));
        sheet = ShareSheet::open(*m_services, site, &window);
        QTRY_VERIFY_WITH_TIMEOUT(sheet->errorLabel()->isVisible(), 10000);
        QCOMPARE(sheet->errorLabel()->text(),
                 QStringLiteral(
                     "This site’s public entry point is missing. Restore public/index.php before sharing."));
        QVERIFY(sheet->retryButton()->isVisible());
        QVERIFY(!sheet->stopButton()->isVisible());
        sheet->detailsToggle()->click();
        QVERIFY(sheet->details()->toPlainText().contains(QStringLiteral("Preparing site…")));
        QVERIFY(saveLightAndDark(sheet, QStringLiteral("share-error")));
        qunsetenv("FAKE_TUNNEL_REGISTER_DELAY");
    }
};

HALVIK_TEST_MAIN(ShareScreensTest)
#include "tst_sharescreens.moc"
