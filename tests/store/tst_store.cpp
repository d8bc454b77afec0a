#include "TestMain.h"
#include "WaitFor.h"

#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "models/SourceControlProviders.h"
#include "models/StoreCodec.h"
#include "platform/AppDataDir.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

using namespace halvik;

namespace {

const char* kSiteA = "11111111-AAAA-4AAA-8AAA-111111111111";
const char* kSiteB = "22222222-BBBB-4BBB-8BBB-222222222222";
const char* kHost = "33333333-CCCC-4CCC-8CCC-333333333333";
const char* kOp = "44444444-DDDD-4DDD-8DDD-444444444444";
const char* kDeploy = "55555555-EEEE-4EEE-8EEE-555555555555";

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Lowers the largest file this process may write (RLIMIT_FSIZE) for as long as it lives: a
// longer write fails with EFBIG, as on a full disk, whoever runs the test.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit lower = m_old;
        lower.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_old); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
};

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A realistic document with plain keys: two sites (oldest first, to check the sort), one with
// an operation and a deployment, one host and one source-control account.
QByteArray plainDocument()
{
    return QStringLiteral(R"({"sites":[
      {"id":"%1","name":"","path":"/srv/alpha","createdAt":100.5,"phpSourceRaw":"automatic","herdLinked":false,
       "operations":[{"id":"%4","command":"composer update","log":"a\nb","exitCode":0,"startedAt":101,"finishedAt":102,"kindRaw":"composer"}],
       "deployments":[{"id":"%5","startedAt":103,"status":"finished","log":"","forgeDeploymentId":77,"serverName":"web","siteName":"alpha.com"}]},
      {"id":"%2","name":"Beta","path":"/srv/beta","createdAt":200,"phpSourceRaw":"herd","herdLinked":true,
       "localPort":4001,"githubRepo":"me/beta","usesSSG":true,"notes":"hi"}],
     "hosts":[{"id":"%3","providerRaw":"laravelCloud","label":"Cloud","createdAt":50}],
     "sourceControlAccounts":[{"provider":"github","login":"me","connectedAt":60}]})")
        .arg(kSiteA, kSiteB, kHost, kOp, kDeploy)
        .toUtf8();
}

// The same document the way older versions wrote it: every key with a leading underscore
// and observation bookkeeping at every level.
QByteArray legacyDocument()
{
    QJsonDocument plain = QJsonDocument::fromJson(plainDocument());
    std::function<QJsonValue(const QJsonValue&)> legacy = [&](const QJsonValue& v) -> QJsonValue {
        if (v.isArray()) {
            QJsonArray out;
            for (const auto& e : v.toArray())
                out.append(legacy(e));
            return out;
        }
        if (v.isObject()) {
            QJsonObject out;
            const QJsonObject in = v.toObject();
            for (auto it = in.begin(); it != in.end(); ++it)
                out.insert("_" + it.key(), legacy(it.value()));
            out.insert("_$observationRegistrar", QJsonObject{{"id", 3}});
            return out;
        }
        return v;
    };
    QJsonObject root = plain.object();
    QJsonObject out;
    // The document's own three keys were never prefixed; the records inside were.
    for (auto it = root.begin(); it != root.end(); ++it)
        out.insert(it.key(), legacy(it.value()));
    return QJsonDocument(out).toJson();
}

} // namespace

class StoreTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SecretStore> m_secrets;

    SiteStore makeStore() { return SiteStore(*m_secrets, m_dir->path()); }
    QString storePath() const { return m_dir->path() + "/store.json"; }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_secrets = std::make_unique<SecretStore>(m_dir->path() + "/secrets.json");
    }

    void legacyAndPlainDocumentsLoadAlike()
    {
        writeFile(storePath(), plainDocument());
        SiteStore plain(*m_secrets, m_dir->path());
        plain.load();
        writeFile(storePath(), legacyDocument());
        SiteStore legacy(*m_secrets, m_dir->path());
        legacy.load();

        QCOMPARE(legacy.sites().size(), 2);
        QCOMPARE(StoreCodec::encode({legacy.sites(), legacy.hosts(), legacy.sourceControlAccounts()}),
                 StoreCodec::encode({plain.sites(), plain.hosts(), plain.sourceControlAccounts()}));
        const auto alpha = legacy.sites().at(1);
        QCOMPARE(alpha->operations().size(), 1);
        QCOMPARE(alpha->operations().first()->log(), QString("a\nb"));
        QCOMPARE(alpha->deployments().first()->forgeDeploymentId(), std::optional<qint64>(77));
    }

    void legacyKeyRulesApplyAtEveryDepth()
    {
        // `_$…` keys vanish wherever they are, one leading underscore is dropped, the plain
        // spelling wins over the legacy one in either order, and string values are untouched.
        const QByteArray bytes =
            QStringLiteral(
                "{\"_$top\":{\"x\":[1,{\"y\":\"z\"}]},\"sites\":[{\"_id\":\"%1\",\"name\":\"_keep\","
                "\"_name\":\"legacy\",\"_path\":\"/p\",\"__notes\":\"ignored\",\"_createdAt\":1,"
                "\"_phpSourceRaw\":\"automatic\",\"_herdLinked\":true,\"_$reg\":{},\"_operations\":[{"
                "\"_id\":\"%2\",\"_command\":\"ls\",\"_log\":\"a\\\"b\\u00e9\\n\",\"_startedAt\":2,"
                "\"_kindRaw\":\"shell\",\"_exitCode\":3,\"exitCode\":4,\"_$obs\":[]}]}],\"hosts\":[]}")
                .arg(kSiteA, kOp)
                .toUtf8();
        // A skipped value may hold brackets inside its strings.
        const StoreDocument document =
            StoreCodec::decode("{\"_$skip\":[\"]}\",{\"a\":\"{\"}]," + bytes.mid(1));
        QCOMPARE(document.sites.size(), 1);
        const SiteRecord& site = document.sites.first();
        QCOMPARE(site.name, QString("_keep"));
        QCOMPARE(site.notes, QString());
        QVERIFY(site.herdLinked);
        QCOMPARE(site.operations.size(), 1);
        QCOMPARE(site.operations.first().exitCode, std::optional<int>(4));
        QCOMPARE(site.operations.first().log.text(), QString::fromUtf8("a\"bé\n"));

        // Malformed documents fail whole, with the place named.
        for (const char* bad :
             {R"({"sites":[)", R"({"sites":[],"hosts":[]} x)", R"({"sites":[{"id":"x"}],"hosts":[]})",
              R"({"sites":[],"hosts":[],"sourceControlAccounts":[{"provider":"github"}]})"})
            QVERIFY_THROWS_EXCEPTION(StoreDecodeError, StoreCodec::decode(bad));
    }

    void optionalKeysMissingOrNullAndRequiredKeysMissing()
    {
        const QString site =
            QStringLiteral(R"({"id":"%1","name":"n","path":"/p","createdAt":1,"phpSourceRaw":"managed",)"
                           R"("herdLinked":false,"localPort":null,"githubRepo":null%2})")
                .arg(kSiteA);
        auto snapshot = StoreCodec::decodeObjects(
            QStringLiteral(R"({"sites":[%1],"hosts":[]})").arg(site.arg("")).toUtf8());
        const auto s = snapshot.sites.first();
        QVERIFY(!s->localPort() && !s->githubRepo());
        QVERIFY(!s->usesSSG());
        QCOMPARE(s->notes(), QString());
        QVERIFY(s->operations().isEmpty() && s->deployments().isEmpty());
        QVERIFY(snapshot.sourceControlAccounts.isEmpty());

        // Without herdLinked, with a wrong type, or with a bad UUID the whole document fails.
        const QString noHerd =
            QString(
                R"({"sites":[{"id":"%1","name":"n","path":"/p","createdAt":1,"phpSourceRaw":"x"}],"hosts":[]})")
                .arg(kSiteA);
        QVERIFY_THROWS_EXCEPTION(StoreDecodeError, StoreCodec::decodeObjects(noHerd.toUtf8()));
        QVERIFY_THROWS_EXCEPTION(
            StoreDecodeError,
            StoreCodec::decodeObjects(
                QStringLiteral(R"({"sites":[%1],"hosts":[]})").arg(site.arg(R"(,"notes":5)")).toUtf8()));
        QVERIFY_THROWS_EXCEPTION(
            StoreDecodeError,
            StoreCodec::decodeObjects(
                R"({"sites":[],"hosts":[{"id":"nope","providerRaw":"forge","label":"","createdAt":0}]})"));
        QVERIFY_THROWS_EXCEPTION(StoreDecodeError, StoreCodec::decodeObjects(R"({"sites":[]})"));
        try {
            StoreCodec::decodeObjects(noHerd.toUtf8());
        } catch (const StoreDecodeError& error) {
            QVERIFY2(error.description().contains("herdLinked"), qPrintable(error.description()));
        }
    }

    void writesCompactOrderedJsonWithoutNulls()
    {
        SiteStore store = makeStore();
        auto site = std::make_shared<Site>("", "/srv/gamma");
        site->setLocalPort(4002);
        auto op = std::make_shared<SiteOperation>("git push", OperationKind::git);
        op->appendLine("one");
        site->appendOperation(op);
        store.insertSite(site);
        store.flush();

        const QByteArray bytes = readFile(storePath());
        QVERIFY(!bytes.contains('\n') && !bytes.contains(": "));
        QVERIFY(!bytes.contains("null"));
        QVERIFY(bytes.startsWith("{\"sites\":[{\"id\":\"" + uuidString(site->id()).toUtf8() +
                                 "\",\"name\":\"\",\"path\""));
        QVERIFY(bytes.contains(
            R"("herdLinked":false,"localPort":4002,"usesSSG":false,"notes":"","operations":[)"));
        QVERIFY(bytes.endsWith(R"("deployments":[]}],"hosts":[],"sourceControlAccounts":[]})"));
        QVERIFY(!bytes.contains("finishedAt") && !bytes.contains("exitCode")); // running operation

        // Dates count seconds from 2001-01-01 UTC, with fractions.
        QCOMPARE(StoreCodec::toReferenceSeconds(QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 500), Qt::UTC)),
                 1.5);
        SiteStore reread = makeStore();
        reread.load();
        QCOMPARE(reread.sites().first()->createdAt(), site->createdAt());
        QCOMPARE(reread.sites().first()->operations().first()->kind(), std::optional(OperationKind::git));
    }

    void badDocumentIsKeptAsideAndStoreStartsEmpty()
    {
        writeFile(storePath(), R"({"sites":[{"id":1}],"hosts":[]})");
        SiteStore store = makeStore();
        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression("^Halvik store load failed: .*kept as .*store\\.json\\.unreadable-"));
        store.load();
        QVERIFY(store.sites().isEmpty());
        const QStringList copies = QDir(m_dir->path()).entryList({"store.json.unreadable-*"});
        QCOMPARE(copies.size(), 1);
        QCOMPARE(readFile(m_dir->path() + "/" + copies.first()),
                 QByteArray(R"({"sites":[{"id":1}],"hosts":[]})"));
        store.save(); // the original survives in the copy
        store.flush();
        QCOMPARE(QDir(m_dir->path()).entryList({"store.json.unreadable-*"}).size(), 1);

        // A missing file is silent and changes nothing.
        QFile::remove(storePath());
        SiteStore fresh = makeStore();
        fresh.load();
        QVERIFY(fresh.sites().isEmpty());
    }

    void listOrderInvariants()
    {
        writeFile(storePath(), plainDocument());
        SiteStore store = makeStore();
        QSignalSpy sitesChanged(&store, &SiteStore::sitesChanged);
        store.load();
        QCOMPARE(sitesChanged.count(), 1);
        QCOMPARE(store.sites().at(0)->displayName(), QString("Beta"));  // newest first
        QCOMPARE(store.sites().at(1)->displayName(), QString("alpha")); // empty name: folder name

        auto newer = std::make_shared<HostAccount>(HostProviderKind::forge, "Forge");
        store.addHost(newer);
        QCOMPARE(store.hosts().last(), newer); // oldest first

        store.upsertSourceControl({"origin", "o", QDateTime::currentDateTimeUtc()});
        store.upsertSourceControl({"bitbucket", "b", QDateTime::currentDateTimeUtc()});
        store.upsertSourceControl({"github", "replaced", QDateTime::currentDateTimeUtc()});
        QStringList order;
        for (const auto& a : store.sourceControlAccounts())
            order << a.provider;
        QCOMPARE(order, QStringList({"bitbucket", "github", "origin"}));
        QCOMPARE(store.sourceControlAccount(SourceControlProvider::github)->login, QString("replaced"));
    }

    void removalsDeleteSecretsAndSave()
    {
        writeFile(storePath(), plainDocument());
        SiteStore store = makeStore();
        store.load();
        const auto host = store.hosts().first();
        QCOMPARE(host->secretAccount(), QString("laravelCloud.") + kHost);
        QCOMPARE(secretAccount(SourceControlProvider::bitbucket), QString("sourceControl.bitbucket"));
        m_secrets->set("cloud-token", host->secretAccount());
        m_secrets->set("gh-token", "sourceControl.github");

        store.removeHost(host);
        store.removeSourceControl(SourceControlProvider::github);
        store.remove(store.sites().first());
        store.flush();
        QVERIFY(!m_secrets->get(host->secretAccount()));
        QVERIFY(!m_secrets->get("sourceControl.github"));
        QVERIFY(!readFile(m_secrets->filePath()).contains("token"));

        SiteStore reread = makeStore();
        reread.load();
        QCOMPARE(reread.sites().size(), 1);
        QVERIFY(reread.hosts().isEmpty() && reread.sourceControlAccounts().isEmpty());
        QVERIFY(!readFile(storePath()).contains("token")); // secrets never reach store.json
    }

    void pathLookups()
    {
        QDir(m_dir->path()).mkpath("sites/alpha");
        const QString real = m_dir->path() + "/sites/alpha";
        QFile::link(real, m_dir->path() + "/link");
        SiteStore store = makeStore();
        auto site = std::make_shared<Site>("a", real);
        store.insertSite(site);

        for (const QString& asked : {real + "/", "  " + real + "\n", m_dir->path() + "/sites/./alpha",
                                     m_dir->path() + "/sites//alpha", m_dir->path() + "/sites/beta/../alpha",
                                     m_dir->path() + "/link"})
            QVERIFY2(store.siteAtPath(asked) == site, qPrintable(asked));
        QVERIFY(!store.siteAtPath(""));
        QVERIFY(!store.siteAtPath("   \t"));
        QVERIFY(!store.siteAtPath(m_dir->path() + "/sites"));
    }

    void recordsNotifyOnlyRealChanges()
    {
        Site site("n", "/p");
        QSignalSpy spy(&site, &Site::changed);
        site.setName("n");
        site.setLocalPort(std::nullopt);
        QCOMPARE(spy.count(), 0);
        site.setName("m");
        site.setLocalPort(80);
        site.setLocalPort(80);
        QCOMPARE(spy.count(), 2);

        SiteOperation op("ls", OperationKind::shell);
        QVERIFY(op.isRunning());
        op.appendLine("x");
        QCOMPARE(op.log(), QString("x"));
        op.appendLine("");
        op.appendLine("y");
        QCOMPARE(op.log(), QString("x\n\ny"));
        op.setFinishedAt(QDateTime::currentDateTimeUtc());
        QVERIFY(!op.isRunning());

        Site linked("", "/srv/x/");
        QCOMPARE(linked.displayName(), QString("x"));
        linked.setForgeSiteId(1);
        linked.setStaticHostKind("netlify");
        QCOMPARE(linked.linkedDeployProviders(), QList<HostProviderKind>({HostProviderKind::forge}));
        linked.setStaticHostURL("https://x.netlify.app");
        linked.setCloudURL("https://x.cloud");
        QCOMPARE(linked.linkedDeployProviders(),
                 QList<HostProviderKind>(
                     {HostProviderKind::laravelCloud, HostProviderKind::netlify, HostProviderKind::forge}));
    }

    void secretsFileModeAndCaches()
    {
        SecretStore& secrets = *m_secrets;
        secrets.set("s3cret", "forge.X");
        QCOMPARE(QFile::permissions(secrets.filePath()) & QFileDevice::Permissions(0x7077),
                 QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(secrets.get("forge.X"), std::optional<QString>("s3cret"));

        // A fresh store reads the file once, however many lookups follow.
        SecretStore again(secrets.filePath());
        QCOMPARE(again.get("forge.X"), std::optional<QString>("s3cret"));
        QVERIFY(!again.get("missing"));
        again.remove("forge.X");
        QFile::remove(again.filePath()); // deleted keys are answered from memory
        QVERIFY(!again.get("forge.X"));
        QVERIFY(!again.get("missing"));
        QCOMPARE(again.fileReads(), 1);

        // An empty value counts as absent, for get and for warm-up.
        secrets.set("", "netlify.Y");
        QVERIFY(!secrets.get("netlify.Y"));
        writeFile(m_dir->path() + "/warm.json", R"({"a":"1","b":"","c":7})");
        SecretStore warm(m_dir->path() + "/warm.json");
        warm.warmup({"a", "b"});
        QCOMPARE(warm.get("a"), std::optional<QString>("1"));
        QVERIFY(!warm.get("b") && !warm.get("c"));
        QCOMPARE(warm.fileReads(), 1);

        // A corrupt file loads as empty and is replaced by the next write.
        writeFile(m_dir->path() + "/bad.json", "{{{");
        SecretStore bad(m_dir->path() + "/bad.json");
        QVERIFY(!bad.get("a"));
        bad.set("v", "a");
        QCOMPARE(QJsonDocument::fromJson(readFile(bad.filePath())).object()["a"].toString(), QString("v"));
    }

    // Two stores on one folder behave like two Halvik processes.
    void storesSharingOneFileNeverLoseEachOthersChanges()
    {
        writeFile(storePath(), plainDocument());
        SiteStore window = makeStore();
        SiteStore command = makeStore();
        window.load();
        command.load();
        const SitePtr alphaInWindow = window.site(QUuid::fromString(QLatin1String(kSiteA)));
        const SitePtr betaInCommand = command.site(QUuid::fromString(QLatin1String(kSiteB)));

        // The command changes one site and adds another; the window changes a different site.
        betaInCommand->setNotes("from the command");
        auto added = std::make_shared<Site>("added", "/srv/added");
        command.insertSite(added);
        command.flush();
        alphaInWindow->setNotes("from the window");
        window.flush();

        // The window's save kept the command's changes (it never writes back its stale beta)
        // and took them in.
        SiteStore reread = makeStore();
        reread.load();
        QCOMPARE(reread.sites().size(), 3);
        QCOMPARE(reread.site(QUuid::fromString(QLatin1String(kSiteB)))->notes(), QString("from the command"));
        QCOMPARE(reread.site(QUuid::fromString(QLatin1String(kSiteA)))->notes(), QString("from the window"));
        QCOMPARE(window.sites().size(), 3);
        QCOMPARE(window.site(QUuid::fromString(QLatin1String(kSiteB)))->notes(), QString("from the command"));

        // Operations both processes append to the same site are all kept, in time order.
        auto fromWindow = std::make_shared<SiteOperation>("git commit", OperationKind::git);
        window.site(added->id())->appendOperation(fromWindow);
        window.flush();
        QTest::qWait(5); // start times are kept to the millisecond
        auto fromCommand = std::make_shared<SiteOperation>("git push", OperationKind::git);
        added->appendOperation(fromCommand);
        command.flush();
        QStringList commands;
        for (const auto& op : added->operations())
            commands << op->command();
        QCOMPARE(commands, QStringList({"git commit", "git push"}));

        // A removal elsewhere reaches a store that follows the file.
        window.watchForChanges();
        QSignalSpy windowSites(&window, &SiteStore::sitesChanged);
        command.remove(betaInCommand);
        command.flush();
        QTRY_COMPARE_WITH_TIMEOUT(window.sites().size(), 2, 5000);
        QVERIFY(!window.site(betaInCommand->id()));
        QVERIFY(windowSites.count() >= 1);
        // ...and the window's next write does not bring it back.
        window.site(added->id())->setNotes("still here");
        window.flush();
        SiteStore last = makeStore();
        last.load();
        QCOMPARE(last.sites().size(), 2);
        QVERIFY(!last.site(betaInCommand->id()));
        QCOMPARE(last.site(added->id())->notes(), QString("still here"));
        QCOMPARE(last.site(added->id())->operations().size(), 2);
    }

    void loadingInTheBackgroundKeepsWhatChangedMeanwhile()
    {
        writeFile(storePath(), plainDocument());
        SiteStore store = makeStore();
        QCoro::Task<> loading = store.loadInBackground();
        auto early = std::make_shared<Site>("early", "/srv/early"); // imported while the file is read
        store.insertSite(early);
        halvik::waitFor(std::move(loading));
        QCOMPARE(store.sites().size(), 3);
        QCOMPARE(store.sites().first(), early); // the newest
        QCOMPARE(store.hosts().size(), 1);
        QCOMPARE(store.sourceControlAccounts().size(), 1);
        store.flush();
        SiteStore reread = makeStore();
        reread.load();
        QCOMPARE(reread.sites().size(), 3);
    }

    // The window starts reading before it follows the file: a site another process adds in
    // between must still arrive.
    void aReadStartedEarlyCatchesUpWithChangesMadeBeforeTheWatch()
    {
        writeFile(storePath(), plainDocument());
        SiteStore window = makeStore();
        window.startReading();
        QTest::qWait(50); // the read is done before the other process writes
        SiteStore command = makeStore();
        command.load();
        auto added = std::make_shared<Site>("added", "/srv/added");
        command.insertSite(added);
        command.flush();
        window.watchForChanges();
        halvik::waitFor(window.loadInBackground());
        QTRY_VERIFY_WITH_TIMEOUT(window.site(added->id()), 5000);
        QCOMPARE(window.sites().size(), 3);
    }

    void savesAreGatheredAndWrittenOffTheMainThread()
    {
        SiteStore store = makeStore();
        store.setSaveDelay(20);
        QSignalSpy written(&store, &SiteStore::saveFinished);
        auto site = std::make_shared<Site>("quick", "/srv/quick");
        store.insertSite(site);
        for (int i = 0; i < 50; ++i) {
            site->setLocalPort(4000 + i);
            store.save();
        }
        QVERIFY(!QFile::exists(storePath())); // nothing written while the changes keep coming
        QTRY_VERIFY_WITH_TIMEOUT(written.count() >= 1 && !store.isSaving(), 5000);
        QCOMPARE(written.count(), 1);
        SiteStore reread = makeStore();
        reread.load();
        QCOMPARE(reread.sites().first()->localPort(), std::optional<int>(4049));

        // A store destroyed with a change pending still writes it.
        {
            SiteStore closing = makeStore();
            closing.load();
            closing.sites().first()->setNotes("written at the end");
            closing.save();
        }
        SiteStore after = makeStore();
        after.load();
        QCOMPARE(after.sites().first()->notes(), QString("written at the end"));
    }

    void aRefusedSaveKeepsTheOldFilesAndIsTriedAgain()
    {
        QTemporaryDir dir;
        SecretStore secrets(dir.filePath("secrets.json"));
        secrets.set("old-token", "sourceControl.github");
        SiteStore store(secrets, dir.path());
        auto site = std::make_shared<Site>("before", "/tmp/refused-save");
        store.insertSite(site);
        store.flush();
        QVERIFY(!store.lastSaveError());
        const QByteArray storeBefore = readFile(store.filePath());
        const QByteArray secretsBefore = readFile(secrets.filePath());
        QSignalSpy problems(&store, &SiteStore::lastSaveErrorChanged);
        {
            // The disk takes no file longer than a few bytes, as when it is full.
            const FileSizeLimit full(8);
            site->setName("after");
            store.flush();
            secrets.set("new-token", "sourceControl.github");
        }
        QVERIFY(store.lastSaveError());
        QVERIFY(secrets.lastWriteError());
        QCOMPARE(problems.size(), 1);
        QCOMPARE(readFile(store.filePath()), storeBefore);
        QCOMPARE(readFile(secrets.filePath()), secretsBefore);
        // No half-written copy is left beside them either.
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            QVERIFY2(name == "store.json" || name == "secrets.json" || name.endsWith(".lock"),
                     qPrintable(name));

        // The next save carries the change that was refused, with nothing new to add.
        store.flush();
        QVERIFY(!store.lastSaveError());
        QCOMPARE(problems.size(), 2);
        QVERIFY(readFile(store.filePath()).contains("\"name\":\"after\""));
        secrets.retryFailedWrite();
        QVERIFY(!secrets.lastWriteError());
        QVERIFY(readFile(secrets.filePath()).contains("new-token"));
    }

    void historyIsBounded()
    {
        SiteStore store = makeStore();
        auto site = std::make_shared<Site>("busy", "/srv/busy");
        store.insertSite(site);
        for (int i = 0; i < StoreLimits::operationsPerSite + 5; ++i)
            site->appendOperation(
                std::make_shared<SiteOperation>(QString("op %1").arg(i), OperationKind::shell));
        QCOMPARE(site->operations().size(), StoreLimits::operationsPerSite);
        QCOMPARE(site->operations().first()->command(), QString("op 5"));

        // A long log keeps its head and tail and says what it left out.
        QString log;
        for (int line = 0; line < 40000; ++line)
            log += QString("line %1 of a long é log\n").arg(line, 5, 10, QChar('0'));
        log += "the very end";
        site->operations().last()->setLog(log);
        store.flush();
        const QByteArray bytes = readFile(storePath());
        QVERIFY(bytes.size() < StoreLimits::logBytes + 200 * 200);
        SiteStore reread = makeStore();
        reread.load();
        const QString kept = reread.sites().first()->operations().last()->log();
        QVERIFY(kept.toUtf8().size() <= StoreLimits::logBytes);
        QVERIFY(kept.startsWith("line 00000 of a long é log\n"));
        QVERIFY(kept.endsWith("the very end"));
        QVERIFY2(QRegularExpression("\\n\\[… [0-9,]+ characters of this log were left out …\\]\\n")
                     .match(kept)
                     .hasMatch(),
                 qPrintable(kept.mid(kept.indexOf("[…") - 10, 80)));
        // The live log here is untouched by what the store keeps.
        QCOMPARE(site->operations().last()->log(), log);
    }

    void secretsSharedBetweenProcessesAreKept()
    {
        SecretStore window(m_dir->path() + "/shared-secrets.json");
        SecretStore command(m_dir->path() + "/shared-secrets.json");
        window.set("w-token", "forge.W");
        QVERIFY(!command.get("sourceControl.github"));
        command.set("gh-token", "sourceControl.github");
        window.set("w2-token", "netlify.N"); // written on top of the command's file
        QCOMPARE(window.get("sourceControl.github"), std::optional<QString>("gh-token"));
        SecretStore fresh(m_dir->path() + "/shared-secrets.json");
        QCOMPARE(fresh.get("forge.W"), std::optional<QString>("w-token"));
        QCOMPARE(fresh.get("sourceControl.github"), std::optional<QString>("gh-token"));
        QCOMPARE(fresh.get("netlify.N"), std::optional<QString>("w2-token"));
        command.remove("forge.W");
        QVERIFY(!window.get("forge.W"));
    }

    // Damaged documents (bytes flipped, cut short, brackets and quotes stray) either fail as a
    // whole with StoreDecodeError or decode to a document that survives writing and reading
    // back unchanged. Run under the sanitizers, this also catches reads past the buffer.
    void damagedDocumentsFailCleanlyOrRoundTrip()
    {
        const QByteArray original = plainDocument();
        const QByteArray specials = "{}[]\",:\\_$0e.-nu";
        QRandomGenerator random(20261206);
        int decoded = 0;
        for (int round = 0; round < 3000; ++round) {
            QByteArray bytes = original;
            const int edits = 1 + int(random.bounded(4));
            for (int e = 0; e < edits && !bytes.isEmpty(); ++e) {
                const qsizetype at = random.bounded(int(bytes.size()));
                switch (random.bounded(4)) {
                case 0:
                    bytes[at] = specials.at(random.bounded(int(specials.size())));
                    break;
                case 1:
                    bytes.truncate(at);
                    break;
                case 2:
                    bytes.insert(at, specials.at(random.bounded(int(specials.size()))));
                    break;
                default:
                    bytes.remove(at, 1 + random.bounded(8));
                    break;
                }
            }
            try {
                const StoreDocument document = StoreCodec::decode(bytes);
                ++decoded;
                const StoreDocument again = StoreCodec::decode(StoreCodec::encode(document));
                QVERIFY2(again == document, bytes.constData());
            } catch (const StoreDecodeError&) {
            }
        }
        QVERIFY(decoded > 0); // some damage (in a log, say) still leaves a valid document
    }

    void remoteURLsMapToProviders()
    {
        using P = SourceControlProvider;
        QCOMPARE(sourceControlProviderFromRemoteURL("git@github.com:acme/shop.git"),
                 std::optional(P::github));
        QCOMPARE(sourceControlProviderFromRemoteURL("https://GitLab.com/acme/shop"),
                 std::optional(P::gitlab));
        QCOMPARE(sourceControlProviderFromRemoteURL("https://me@bitbucket.org/acme/shop.git"),
                 std::optional(P::bitbucket));
        QVERIFY(!sourceControlProviderFromRemoteURL("https://git.example.com/acme/shop.git"));
    }

    void appSupportFolderAndLegacyRename()
    {
        IsolatedHomeScope home;
        const QString data = qEnvironmentVariable("XDG_DATA_HOME");
        QCOMPARE(AppDataDir::directory(), data + "/Halvik");
        QDir(data).mkpath("Dunmoral");
        writeFile(data + "/Dunmoral/store.json", "{}");
        QCOMPARE(AppDataDir::directory(), data + "/Halvik");
        QVERIFY(QFile::exists(data + "/Halvik/store.json"));
        QVERIFY(!QFile::exists(data + "/Dunmoral"));

        // With both present, the current folder wins and the old one is left alone.
        QDir(data).mkpath("Dunmoral");
        QCOMPARE(AppDataDir::directory(), data + "/Halvik");
        QVERIFY(QFile::exists(data + "/Dunmoral"));
    }

private:
    using IsolatedHomeScope = halvik::test::IsolatedHome;
};

HALVIK_TEST_MAIN_CORE(StoreTest)
#include "tst_store.moc"
