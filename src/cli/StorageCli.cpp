#include "StorageCli.h"

#include "CliContext.h"
#include "CliJson.h"

#include "app/AppServices.h"
#include "app/StorageTools.h"
#include "models/SiteStore.h"
#include "platform/QuitSignals.h"

#include <QTextStream>
#include <QUrl>
#include <QUrlQuery>

namespace halvik {

using cli::CliError;
using cli::Json;

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

const char* kUsage =
    "Usage: halvik migrate-content <site> [--db DRIVER://USER@HOST[:PORT]/NAME[?sslmode=MODE]] [--bucket "
    "ENDPOINT/BUCKET --bucket-key KEY --bucket-url PUBLIC_URL [--bucket-region R]] [--secrets-stdin] "
    "[--repositories a,b] [--no-users] [--containers a,b | --no-assets] [--dry-run] [--json] | <site> "
    "--status "
    "[--json] | <site> --restore | <site> --start-over";

CloudStoragePlan::Database parseDatabase(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    CloudStoragePlan::Database database;
    database.driver = url.scheme();
    if (!url.isValid() ||
        (database.driver != QLatin1String("pgsql") && database.driver != QLatin1String("mysql")) ||
        url.host().isEmpty() || url.userName().isEmpty() || url.path().size() < 2 ||
        !url.password().isEmpty())
        throw CliError::usage(
            s("--db takes DRIVER://USER@HOST[:PORT]/NAME[?sslmode=MODE], DRIVER pgsql or mysql "
              "(the password comes from --secrets-stdin)."));
    database.host = url.host();
    database.port = url.port(database.driver == QLatin1String("mysql") ? 3306 : 5432);
    database.username = url.userName();
    database.name = url.path().mid(1);
    const QUrlQuery query(url);
    if (query.hasQueryItem(s("sslmode")))
        database.sslmode = query.queryItemValue(s("sslmode"));
    return database;
}

CloudStoragePlan::Bucket parseBucket(const QString& text)
{
    const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0 || slash == text.size() - 1 || !text.contains(s("://")))
        throw CliError::usage(
            s("--bucket takes ENDPOINT/BUCKET, such as https://s3.example.com/site-assets."));
    CloudStoragePlan::Bucket bucket;
    bucket.endpoint = text.left(slash);
    bucket.name = text.mid(slash + 1);
    return bucket;
}

QString takeValue(QStringList& args, const QString& option)
{
    if (args.isEmpty() || args.first().startsWith(s("--")))
        throw CliError::usage(option + s(" needs a value."));
    return args.takeFirst();
}

QStringList commaList(const QString& text)
{
    QStringList list;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        list << item.trimmed();
    return list;
}

Json statusJson(const CloudStorageSession& session)
{
    const CloudStorageCheckpoint& checkpoint = session.checkpoint();
    const CloudStorageInventory inventory = checkpoint.inventory.value_or(CloudStorageInventory{});
    return Json{{"setup", cli::utf8(session.setupID())},
                {"stage", cli::utf8(stageName(checkpoint.stage))},
                {"completed", checkpoint.toJson()["completed"]},
                {"applying", checkpoint.applying},
                {"plan", session.plan().toJson(CloudStoragePlan::Secrets::masked)},
                {"inventory", inventory.toJson()},
                {"result", checkpoint.result.toJson()},
                {"folder", cli::utf8(session.folder())}};
}

void printStatus(const CloudStorageSession& session)
{
    QTextStream& out = cli::out();
    const CloudStorageCheckpoint& checkpoint = session.checkpoint();
    out << "Setup " << session.setupID() << '\n';
    out << "Stage: " << stageName(checkpoint.stage) << '\n';
    if (checkpoint.applying)
        out << "Applying the local files was interrupted; restore the backup first.\n";
    out << "Plan: " << QString::fromStdString(session.plan().toJson(CloudStoragePlan::Secrets::masked).dump())
        << '\n';
    if (!checkpoint.result.tables.isEmpty() || checkpoint.result.files > 0)
        out << "Copied: " << checkpoint.result.tables.size() << " tables, " << checkpoint.result.files
            << " files\n";
    out << "Folder: " << session.folder() << '\n';
}

} // namespace

QCoro::Task<int> runMigrateContent(AppServices& services, QStringList args, FILE* input)
{
    if (args.isEmpty() || args.first().startsWith(s("--")))
        throw CliError::usage(s(kUsage));
    const QString reference = args.takeFirst();
    bool json = false, status = false, restore = false, startOver = false, dryRun = false,
         secretsStdin = false;
    bool noUsers = false, noAssets = false;
    std::optional<CloudStoragePlan::Database> database;
    std::optional<CloudStoragePlan::Bucket> bucket;
    QString bucketKey, bucketURL, bucketRegion;
    std::optional<QStringList> repositories, containers;
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--json"))
            json = true;
        else if (option == QLatin1String("--status"))
            status = true;
        else if (option == QLatin1String("--restore"))
            restore = true;
        else if (option == QLatin1String("--start-over"))
            startOver = true;
        else if (option == QLatin1String("--dry-run"))
            dryRun = true;
        else if (option == QLatin1String("--secrets-stdin"))
            secretsStdin = true;
        else if (option == QLatin1String("--no-users"))
            noUsers = true;
        else if (option == QLatin1String("--no-assets"))
            noAssets = true;
        else if (option == QLatin1String("--db"))
            database = parseDatabase(takeValue(args, option));
        else if (option == QLatin1String("--bucket"))
            bucket = parseBucket(takeValue(args, option));
        else if (option == QLatin1String("--bucket-key"))
            bucketKey = takeValue(args, option);
        else if (option == QLatin1String("--bucket-url"))
            bucketURL = takeValue(args, option);
        else if (option == QLatin1String("--bucket-region"))
            bucketRegion = takeValue(args, option);
        else if (option == QLatin1String("--repositories"))
            repositories = commaList(takeValue(args, option));
        else if (option == QLatin1String("--containers"))
            containers = commaList(takeValue(args, option));
        else
            throw CliError::usage(s(kUsage));
    }
    if (int(status) + int(restore) + int(startOver) > 1 || (containers && noAssets))
        throw CliError::usage(s(kUsage));
    if (bucket) {
        if (bucketKey.isEmpty() || bucketURL.isEmpty())
            throw CliError::usage(s("--bucket needs --bucket-key and --bucket-url."));
        bucket->key = bucketKey;
        bucket->url = bucketURL;
        if (!bucketRegion.isEmpty())
            bucket->region = bucketRegion;
    }

    const SitePtr site = cli::resolveSite(services.store(), reference);
    CloudStorageSession session(site, storageTools(services, *site));
    QTextStream& out = cli::out();
    if (status) {
        if (!session.exists())
            throw CliError(s("This site has no storage setup."));
        if (json)
            cli::printJson(out, statusJson(session));
        else
            printStatus(session);
        co_return 0;
    }
    if (restore) {
        if (!session.hasBackup())
            throw CliError(s("This site’s storage setup has no backup to restore."));
        try {
            co_await session.restoreBackup();
        } catch (const HalvikError& error) {
            throw CliError(error.description());
        }
        out << "Local files restored.\n";
        co_return 0;
    }
    if (startOver) {
        try {
            session.discardForRestart();
        } catch (const HalvikError& error) {
            throw CliError(error.description());
        }
        out << "Storage setup discarded.\n";
        co_return 0;
    }

    // A new plan from the options, over what a saved setup already has.
    CloudStoragePlan plan = session.plan();
    const bool changesPlan = database || bucket || repositories || containers || noUsers || noAssets;
    if (database)
        plan.database = database;
    if (bucket)
        plan.bucket = bucket;
    if (repositories)
        plan.repositories = *repositories;
    if (noUsers)
        plan.users = false;
    if (containers) {
        plan.containers = *containers;
        plan.assets = !containers->isEmpty();
    }
    if (noAssets) {
        plan.assets = false;
        plan.containers.clear();
    }
    if (secretsStdin) {
        QTextStream stdinStream(input);
        if (plan.database)
            plan.database->password = stdinStream.readLine();
        if (plan.bucket)
            plan.bucket->secret = stdinStream.readLine();
    }
    if (changesPlan && int(session.stage()) > int(CloudStorageStage::check))
        throw CliError(
            s("This setup has already checked its destination. Run with --start-over to change it."));
    if (changesPlan || secretsStdin)
        session.setPlan(plan);
    if (!session.exists() && !plan.database && !plan.bucket)
        throw CliError::usage(s("Choose a destination with --db or --bucket."));

    QObject::connect(&session, &CloudStorageSession::logLine, &session,
                     [&out](const QString& line) { out << line << Qt::endl; });
    QString lastStatus;
    QObject::connect(&session, &CloudStorageSession::changed, &session, [&session, &out, &lastStatus] {
        if (session.status() != lastStatus && !session.status().isEmpty()) {
            lastStatus = session.status();
            out << lastStatus << Qt::endl;
        }
    });
    CancellationSource cancel;
    QuitSignals interrupt;
    QObject::connect(&interrupt, &QuitSignals::received, &interrupt, [&cancel](int) { cancel.cancel(); });
    const CancellationToken token = cancel.token();
    try {
        co_await session.runToEnd(dryRun, token);
    } catch (const CancelledError&) {
        throw CliError(s("Cancelled."));
    } catch (const HalvikError& error) {
        throw CliError(error.description());
    }
    if (json)
        cli::printJson(out, statusJson(session));
    co_return 0;
}

QList<cli::CliCommand> storageCommands()
{
    const QList<cli::CliOption> runOptions{
        {s("--db"), s("DRIVER://USER@HOST[:PORT]/NAME[?sslmode=MODE]"),
         s("the destination database (pgsql or mysql)")},
        {s("--bucket"), s("ENDPOINT/BUCKET"), s("the destination S3-compatible bucket")},
        {s("--bucket-key"), s("KEY"), s("the bucket's access key")},
        {s("--bucket-url"), s("PUBLIC_URL"), s("the bucket's public address")},
        {s("--bucket-region"), s("R"), s("the bucket's region (default auto)")},
        {s("--secrets-stdin"),
         {},
         s("read the database password, then the bucket secret, from standard input")},
        {s("--repositories"), s("a,b"), s("the content repositories to move")},
        {s("--no-users"), {}, s("leave users in files")},
        {s("--containers"), s("a,b"), s("the asset containers to copy")},
        {s("--no-assets"), {}, s("copy no asset files")},
        {s("--dry-run"), {}, s("stop after checking the working copy, database and bucket")},
        cli::jsonOption()};
    return {
        {.verb = s("migrate-content"),
         .summary = s("move a site's content, users and assets to a database and bucket for Cloud"),
         .run = [](cli::CliCall& call) { return runMigrateContent(call.app(), call.args); },
         .forms = {{.arguments =
                        s("<site> [--db DRIVER://USER@HOST[:PORT]/NAME[?sslmode=MODE]] [--bucket "
                          "ENDPOINT/BUCKET --bucket-key KEY --bucket-url PUBLIC_URL [--bucket-region R]] "
                          "[--secrets-stdin] [--repositories a,b] [--no-users] [--containers a,b | "
                          "--no-assets] [--dry-run] [--json]"),
                    .help = s("run the site's storage setup from its checkpoint to the end"),
                    .options = runOptions},
                   {.arguments = s("<site> --status [--json]"),
                    .help = s("show the site's storage setup"),
                    .options = {{s("--status"), {}, s("show the saved setup")}, cli::jsonOption()}},
                   {.arguments = s("<site> --restore"),
                    .help = s("put back the files the setup changed in the site"),
                    .options = {{s("--restore"), {}, s("restore the backed-up files")}}},
                   {.arguments = s("<site> --start-over"),
                    .help = s("discard the site's storage setup"),
                    .options = {{s("--start-over"), {}, s("discard the setup folder and its secrets")}}}}},
    };
}

} // namespace halvik
