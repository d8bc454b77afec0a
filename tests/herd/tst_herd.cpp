#include "FakeEngine.h"
#include "TestMain.h"

#include "WaitFor.h"
#include "models/Site.h"
#include "services/HerdError.h"
#include "services/HerdService.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

using namespace halvik;
using halvik::test::FakeEngine;

class HerdTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeEngine> m_fake;

    QString root() const { return m_dir->path(); }
    // A project folder with an optional `.env`.
    QString project(const QString& relative, const QByteArray& env = {})
    {
        const QString path = root() + QLatin1Char('/') + relative;
        QDir().mkpath(path);
        if (!env.isEmpty())
            FakeEngine::writeFile(path + "/.env", env);
        return path;
    }
    std::unique_ptr<HerdService> service()
    {
        auto herd = std::make_unique<HerdService>(m_fake->roots());
        herd->refresh();
        return herd;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_fake = std::make_unique<FakeEngine>(m_dir->path());
    }

    void slugsAndDomainsFollowTheConfiguredTld()
    {
        QCOMPARE(HerdService::slug("My Shop_2 Blog!"), QString("my-shop-2-blog"));

        // Without config.json the domain ends in .test.
        auto herd = service();
        QVERIFY(!herd->engine());
        QCOMPARE(herd->domain("My Shop"), QString("my-shop.test"));

        m_fake->installValet(QJsonObject{{"tld", "local"}});
        herd = service();
        QCOMPARE(herd->domain("My Shop"), QString("my-shop.local"));

        // Unreadable configuration counts as absent.
        FakeEngine::writeFile(m_fake->home() + "/.config/valet/config.json", "{not json");
        QCOMPARE(service()->tld(), QString("test"));
    }

    void detectsValetForLinuxWithItsPhpAndParkedFolders()
    {
        const QString tool = m_fake->installValet(
            QJsonObject{{"tld", "test"}, {"paths", QJsonArray{root() + "/code", root() + "/more/"}}});
        QDir().mkpath(m_fake->home() + "/Sites");
        const QString usrBin = root() + "/usr/bin/";
        m_fake->writePHP(usrBin + "php", "8.2.7");
        m_fake->writePHP(usrBin + "php8.2", "8.2.7");
        m_fake->writePHP(usrBin + "php8.1", "8.1.2");
        m_fake->writeScript(usrBin + "php-config8.2");
        m_fake->writePHP(root() + "/usr/local/opt/php@8.4/bin/php", "8.4.0");
        m_fake->writePHP(root() + "/usr/local/opt/php@8.10/bin/php", "8.10.0");
        m_fake->writePHP(root() + "/opt/homebrew/opt/php@8.2/bin/php", "8.2.1");
        m_fake->writeScript(root() + "/usr/bin/composer");

        const auto herd = service();
        QCOMPARE(herd->engine(), std::optional(LocalDevEngine::valet));
        QVERIFY(herd->isInstalled());
        QCOMPARE(herd->cliPath(), std::optional(tool));
        QCOMPARE(herd->valetCLIPath(), std::optional(tool));
        QCOMPARE(herd->supportPath(), std::optional(m_fake->home() + "/.config/valet"));
        QCOMPARE(herd->parkedPath(), std::optional(m_fake->home() + "/Sites"));
        QCOMPARE(herd->parkedDirectories(),
                 QStringList({root() + "/code", root() + "/more/", m_fake->home() + "/Sites"}));
        QCOMPARE(herd->globalPHPPath(), std::optional(usrBin + "php"));
        QCOMPARE(herd->composerPath(), std::optional(usrBin + "composer"));

        // Homebrew first (the first prefix winning a version), the package manager's fill in;
        // plain string order puts 8.4 before 8.10.
        QList<HerdPHP> expected{{"8.4", root() + "/usr/local/opt/php@8.4/bin/php"},
                                {"8.2", root() + "/opt/homebrew/opt/php@8.2/bin/php"},
                                {"8.10", root() + "/usr/local/opt/php@8.10/bin/php"},
                                {"8.1", usrBin + "php8.1"}};
        QCOMPARE(herd->phpBinaries(), expected);
    }

    void detectsHerdAndItsBinFolder()
    {
        m_fake->installValet();
        m_fake->installHerd({"php84", "php83", "php-fpm84", "php8"});
        const QString bin = m_fake->home() + "/Library/Application Support/Herd/bin/";
        FakeEngine::writeFile(bin + "php82", "not executable");
        m_fake->writeConfig(m_fake->home() + "/Library/Application Support/Herd/config/valet",
                            {{"tld", "herd"}});

        const auto herd = service();
        QCOMPARE(herd->engine(), std::optional(LocalDevEngine::herd));
        QCOMPARE(herd->appPath(), std::optional(root() + "/Applications/Herd.app"));
        QCOMPARE(herd->cliPath(), std::optional(bin + "herd"));
        QCOMPARE(herd->globalPHPPath(), std::optional(bin + "php"));
        QCOMPARE(herd->parkedPath(), std::optional(m_fake->home() + "/Herd"));
        QCOMPARE(herd->valetConfigPath(), std::optional(m_fake->home() + "/.config/valet"));
        QCOMPARE(herd->phpBinaries(), (QList<HerdPHP>{{"8.4", bin + "php84"}, {"8.3", bin + "php83"}}));
        QCOMPARE(herd->tld(), QString("herd"));
    }

    void linksCertificatesAndParkingAreReadFromDisk()
    {
        m_fake->installValet(QJsonObject{{"paths", QJsonArray{root() + "/parked/"}}});
        const QString config = m_fake->home() + "/.config/valet";
        const QString source = project("projects/blog-src");
        QDir().mkpath(config + "/Sites");
        QVERIFY(QFile::link("../../../../projects/blog-src", config + "/Sites/journal"));
        FakeEngine::writeFile(config + "/Certificates/journal.test.crt", "cert");

        const auto herd = service();
        QCOMPARE(herd->linkedName(source + "/"), std::optional<QString>("journal"));
        QCOMPARE(herd->linkedName(root() + "/projects/./blog-src"), std::optional<QString>("journal"));
        QVERIFY(!herd->linkedName(root() + "/projects"));
        QVERIFY(herd->isSecured("Journal"));
        QVERIFY(!herd->isSecured("blog-src"));

        // A parked entry that is itself a link counts as parked where it sits, not where it points.
        QDir().mkpath(root() + "/parked");
        QVERIFY(QFile::link(source, root() + "/parked/shop"));
        QVERIFY(herd->isParked(root() + "/parked/shop"));
        QVERIFY(herd->isParked(root() + "/parked//shop/"));
        QVERIFY(!herd->isParked(source));
        QVERIFY(!herd->isParked(root() + "/parked/shop/nested"));
    }

    void engineUrlsHonourAppUrlExceptLoopback()
    {
        // No engine: no engine URL at all.
        Site bare("Bare", project("bare"));
        QVERIFY(!service()->siteURL(bare));

        m_fake->installValet();
        const QString config = m_fake->home() + "/.config/valet";
        QDir().mkpath(config + "/Sites");
        const QString linked = project("code/local-app", "APP_NAME=x\nAPP_URL=http://localhost:8000\n");
        QVERIFY(QFile::link(linked, config + "/Sites/portal"));
        const QString plain = project("code/Plain Site", "APP_URL=http://127.0.0.1\n");
        const QString custom = project("code/custom", "export APP_URL=\"https://shop.example.test/path\" \n");
        const QString commented =
            project("code/commented", "APP_URL=http://docs.example.test # served by nginx\n");
        const QString broken = project("code/broken", "APP_URL=not a url\n");
        FakeEngine::writeFile(config + "/Certificates/docs.example.test.crt", "cert");
        FakeEngine::writeFile(config + "/Certificates/plain-site.test.crt", "cert");
        const auto herd = service();

        QCOMPARE(herd->siteURL(Site("", linked)), std::optional(QUrl("http://portal.test")));
        QCOMPARE(herd->siteURL(Site("", linked), true), std::optional(QUrl("https://portal.test")));
        QCOMPARE(herd->siteURL(Site("", plain)), std::optional(QUrl("https://plain-site.test")));
        QCOMPARE(herd->siteURL(Site("", plain), false), std::optional(QUrl("http://plain-site.test")));
        QCOMPARE(herd->siteURL(Site("", custom)), std::optional(QUrl("https://shop.example.test/path")));
        QCOMPARE(herd->siteURL(Site("", custom), false),
                 std::optional(QUrl("http://shop.example.test/path")));
        QCOMPARE(herd->siteURL(Site("", commented)), std::optional(QUrl("https://docs.example.test")));
        QCOMPARE(herd->domain(Site("", custom)), QString("shop.example.test"));
        QVERIFY(!HerdService::envAppURL(broken));
        QCOMPARE(herd->siteURL(Site("", broken)), std::optional(QUrl("http://broken.test")));
    }

    void commandsRunTheToolWithTheirArgumentsAndPath()
    {
        const QString tool = m_fake->installValet();
        const QString site = project("code/My Blog");
        auto herd = service();
        halvik::waitFor(herd->link(site, "My Blog"));
        halvik::waitFor(herd->secure("My Blog", site));
        halvik::waitFor(herd->isolate(site, " php@8.3.4 "));
        const auto calls = m_fake->calls();
        QCOMPARE(calls.size(), 3);
        QCOMPARE(calls[0].arguments, QStringList({"link", "my-blog"}));
        QCOMPARE(calls[1].arguments, QStringList({"secure", "my-blog"}));
        QCOMPARE(calls[2].arguments, QStringList({"isolate", "php@8.3"}));
        QCOMPARE(calls[0].workingDirectory, site);
        const QStringList expectedPath{QFileInfo(tool).path(), m_fake->home() + "/.composer/vendor/bin",
                                       m_fake->home() + "/.config/composer/vendor/bin",
                                       root() + "/opt/homebrew/bin", root() + "/usr/local/bin"};
        QCOMPARE(calls[0].path.mid(0, 5), expectedPath);
        QCOMPARE(herd->pendingIsolate().value("my-blog"), QString("8.3"));

        m_fake->failWith("Valet could not link.");
        try {
            halvik::waitFor(herd->link(site, "x"));
            QFAIL("a failing tool must throw");
        } catch (const HerdError& error) {
            QCOMPARE(error.kind(), HerdError::Case::commandFailed);
            QCOMPARE(error.description(), QString("Valet could not link."));
        }
    }

    void isolateArgumentDependsOnTheEngine()
    {
        m_fake->installValet();
        QCOMPARE(service()->isolateArgument("8.3.12"), QString("php@8.3"));
        m_fake->installHerd();
        const auto herd = service();
        QCOMPARE(herd->isolateArgument("php@8.3.12"), QString("8.3"));
        halvik::waitFor(herd->isolate(project("site"), "8.3.12"));
        QCOMPARE(m_fake->calls().last().arguments, QStringList({"isolate", "8.3"}));
    }

    void missingToolIsReportedByEngineName()
    {
        FakeEngine::writeFile(m_fake->home() + "/.config/valet/config.json", "{}");
        const auto herd = service();
        QCOMPARE(herd->engine(), std::optional(LocalDevEngine::valet));
        try {
            halvik::waitFor(herd->secure("a", project("a")));
            QFAIL("no tool must throw");
        } catch (const HerdError& error) {
            QCOMPARE(error.description(), QString("Valet CLI was not found."));
        }
    }

    void sitePhpFollowsIsolationThenTheGlobalPhp()
    {
        m_fake->installValet();
        const QString usrBin = root() + "/usr/bin/";
        m_fake->writePHP(usrBin + "php", "8.2.7");
        m_fake->writePHP(usrBin + "php8.1", "8.1.2");
        m_fake->writePHP(root() + "/usr/local/opt/php@8.0/bin/php", "8.0.1");
        const QString site = project("code/shop");
        FakeEngine::writeFile(m_fake->home() + "/.config/valet/Nginx/shop.test",
                              "# ISOLATED_PHP_VERSION=php@8.1\nserver {}\n");
        auto herd = service();
        herd->setGlobalPHPVersion(halvik::waitFor(herd->phpVersion(usrBin + "php")));
        QCOMPARE(herd->globalPHPVersion(), std::optional<QString>("8.2.7"));

        QCOMPARE(herd->phpForSite(Site("Shop", site)),
                 std::optional(ResolvedPHP{usrBin + "php8.1", "8.1", ResolvedPHPSource::isolated}));
        QCOMPARE(herd->phpForSite("other"),
                 std::optional(ResolvedPHP{usrBin + "php", "8.2.7", ResolvedPHPSource::herdGlobal}));

        // A requested isolation wins until the engine's files show one.
        halvik::waitFor(herd->isolate(project("code/other"), "8.0"));
        QCOMPARE(herd->phpForSite("other")->path, root() + "/usr/local/opt/php@8.0/bin/php");
        FakeEngine::writeFile(m_fake->home() + "/.config/valet/Nginx/other.test",
                              "ISOLATED_PHP_VERSION=8.1\n");
        herd->refresh();
        QVERIFY(herd->pendingIsolate().isEmpty());
        QCOMPARE(herd->phpForSite("other")->version, QString("8.1"));

        QVERIFY(!halvik::waitFor(herd->phpVersion(root() + "/missing/php")));
        m_fake->failWith("boom");
        QVERIFY(!halvik::waitFor(herd->phpVersion(usrBin + "php")));
    }

    void nginxErrorTailReadsTheNewestLog()
    {
        m_fake->installValet();
        const QString logs = m_fake->home() + "/.config/valet/Log/";
        FakeEngine::writeFile(logs + "nginx-error.log.1", "old\n");
        {
            QFile old(logs + "nginx-error.log.1");
            QVERIFY(old.open(QIODevice::ReadWrite));
            QVERIFY(
                old.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
        }
        FakeEngine::writeFile(logs + "php-error.log", "not nginx\n");
        QByteArray big(20000, 'x');
        big += "\nfirst\n\nsecond\nthird\n";
        FakeEngine::writeFile(logs + "nginx-error.log", big);
        const auto herd = service();
        QCOMPARE(herd->nginxErrorTail(2), QStringList({"second", "third"}));
        // Only the last 16 KiB is read, so the 20000-character line arrives cut short.
        const QStringList all = herd->nginxErrorTail(10);
        QCOMPARE(all.size(), 4);
        QVERIFY(all.first().size() < 16384);
    }
};

HALVIK_TEST_MAIN_CORE(HerdTest)
#include "tst_herd.moc"
