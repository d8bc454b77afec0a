#include "TestMain.h"
#include "TestPaths.h"

#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "platform/AppDataDir.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

using namespace halvik;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the real executable inside the test's home.
Run runHalvik(const QStringList& args)
{
    QProcess process;
    process.start(halvik::test::halvikBinary(), args);
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// A fixture store written through the store itself, as the window would leave it.
QList<SitePtr> writeFixtureStore()
{
    SecretStore secrets;
    SiteStore store(secrets);
    const QString root = QDir::homePath() + "/Sites";
    QList<SitePtr> sites;
    const QStringList names{"blog", "shop", "twin", "twin"};
    for (int i = 0; i < names.size(); ++i) {
        QDir().mkpath(root + QString("/%1-%2").arg(names[i]).arg(i));
        auto site = std::make_shared<Site>(names[i], root + QString("/%1-%2").arg(names[i]).arg(i));
        site->setCreatedAt(QDateTime(QDate(2026, 1, 1 + i), QTime(12, 0), Qt::UTC));
        if (i == 1)
            site->setGithubRepo("acme/shop");
        store.insertSite(site);
        sites.prepend(site);
    }
    return sites; // newest first, like the store
}

} // namespace

class CliTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QDir(AppDataDir::directory()).removeRecursively(); }

    void versionAndHelp()
    {
        const Run version = runHalvik({"--version"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out.trimmed(), QString("halvik ") + HALVIK_VERSION);
        const Run help = runHalvik({"help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("sites [--json]"));
        const Run unknown = runHalvik({"frobnicate"});
        QCOMPARE(unknown.exitCode, 1);
        QCOMPARE(unknown.err.count('\n'), 1);
    }

    void sitesListsTheStoreNewestFirst()
    {
        const QList<SitePtr> sites = writeFixtureStore();
        const Run run = runHalvik({"sites", "--json"});
        QCOMPARE(run.exitCode, 0);
        const QJsonArray list = QJsonDocument::fromJson(run.out.toUtf8()).array();
        QCOMPARE(list.size(), 4);
        const QJsonObject shop = list.at(2).toObject();
        QCOMPARE(shop["id"].toString(), uuidString(sites.at(2)->id()));
        QCOMPARE(shop["name"].toString(), QString("shop"));
        QCOMPARE(shop["displayName"].toString(), QString("shop"));
        QCOMPARE(shop["createdAt"].toString(), QString("2026-01-02T12:00:00Z"));
        QCOMPARE(shop["phpSource"].toString(), QString("automatic"));
        QCOMPARE(shop["herdLinked"].toBool(true), false);
        QCOMPARE(shop["usesSSG"].toBool(true), false);
        QCOMPARE(shop["githubRepo"].toString(), QString("acme/shop"));
        QVERIFY(!list.at(0).toObject().contains("githubRepo"));
        QCOMPARE(list.at(3).toObject()["name"].toString(), QString("blog"));

        const Run plain = runHalvik({"sites"});
        QCOMPARE(plain.exitCode, 0);
        QVERIFY(plain.out.split('\n').at(2).startsWith("shop"));
    }

    void removeBySiteIdPathOrUniqueName()
    {
        const QList<SitePtr> sites = writeFixtureStore(); // twin, twin, shop, blog
        const Run ambiguous = runHalvik({"remove", "twin"});
        QCOMPARE(ambiguous.exitCode, 1);
        QVERIFY(ambiguous.err.contains("2 sites are named “twin”"));
        QCOMPARE(runHalvik({"remove", "nothing"}).exitCode, 1);

        QCOMPARE(runHalvik({"remove", "blog"}).exitCode, 0);
        QVERIFY(QFile::exists(sites.at(3)->path())); // remove keeps the folder
        QCOMPARE(runHalvik({"remove", uuidString(sites.at(0)->id()).toLower()}).exitCode, 0);
        const Run byPath = runHalvik({"remove", sites.at(2)->path() + "/", "--delete-files"});
        QCOMPARE(byPath.exitCode, 0);
        QVERIFY(!QFile::exists(sites.at(2)->path()));

        // Only one twin is left, so its name now matches exactly one site.
        const Run left = runHalvik({"sites", "--json"});
        const QJsonArray list = QJsonDocument::fromJson(left.out.toUtf8()).array();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.first().toObject()["path"].toString(), sites.at(1)->path());

        // A folder that can't go to the Trash: one line on stderr, the site stays.
        QDir(sites.at(1)->path()).removeRecursively();
        const Run failed = runHalvik({"remove", "twin", "--delete-files"});
        QCOMPARE(failed.exitCode, 1);
        QVERIFY(failed.err.startsWith("halvik: Couldn’t delete site files: twin: "));
        QCOMPARE(failed.err.count('\n'), 1);
        QCOMPARE(QJsonDocument::fromJson(runHalvik({"sites", "--json"}).out.toUtf8()).array().size(), 1);
    }
};

HALVIK_TEST_MAIN_CORE(CliTest)
#include "tst_cli.moc"
