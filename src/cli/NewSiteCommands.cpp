#include "NewSiteCommands.h"

#include "CliContext.h"
#include "CliJson.h"
#include "JobPrinter.h"

#include "app/InstallCoordinator.h"
#include "app/NewSitePreflight.h"
#include "app/SiteCloneCoordinator.h"
#include "async/Sleep.h"
#include "platform/QuitSignals.h"
#include "services/HerdService.h"
#include "services/OperationLogSink.h"
#include "services/accounts/SourceControlService.h"
#include "services/composer/ComposerService.h"
#include "services/composer/ConflictTranslator.h"
#include "services/composer/PackagistClient.h"
#include "services/marketplace/MarketplacePriceFilter.h"
#include "services/marketplace/QuillmarAPI.h"
#include "services/newsite/NewSiteChecks.h"

#include <QCoroSignal>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>

namespace halvik::cli {

namespace {

const QString newUsage =
    QStringLiteral("Usage: halvik new <folder> [--name NAME] [--kit PACKAGE] [--release VERSION|latest] "
                   "[--database] [--ssg] "
                   "[--super-user EMAIL] [--https] [--git] [--github [--public]] [--json]");
const QString duplicateUsage = QStringLiteral("Usage: halvik duplicate <site> <folder> [--name NAME] "
                                              "[--regenerate-key] [--remove-git] [--https] [--json]");
const QString addonUsage = QStringLiteral("Usage: halvik addon install <site> PACKAGE");

bool takeFlag(QStringList& args, const QString& flag)
{
    return args.removeAll(flag) > 0;
}

std::optional<QString> takeValue(QStringList& args, const QString& option, const QString& usage)
{
    const qsizetype at = args.indexOf(option);
    if (at < 0)
        return std::nullopt;
    if (at + 1 >= args.size() || args.at(at + 1).startsWith(QLatin1String("--")))
        throw CliError::usage(usage);
    QString value = args.at(at + 1);
    args.remove(at, 2);
    return value;
}

void expectPlain(const QStringList& args, qsizetype count, const QString& usage)
{
    if (args.size() != count)
        throw CliError::usage(usage);
    for (const QString& arg : args)
        if (arg.startsWith(QLatin1String("--")))
            throw CliError::usage(usage);
}

QString absoluteFolder(const QString& folder)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(folder));
}

QTextStream& errStream()
{
    static QTextStream stream(stderr);
    return stream;
}

void printAdvice(QTextStream& stream, const QList<ConflictAdvice>& advice)
{
    bool first = true;
    for (const ConflictAdvice& item : advice) {
        if (item.title == QLatin1String("Composer failed"))
            continue; // the end of the log, printed just above
        if (first)
            stream << '\n';
        first = false;
        stream << "Advice: " << item.title << '\n' << "  " << item.detail << '\n';
    }
    stream.flush();
}

// Runs the job in the foreground until it ends; Ctrl-C cancels it.
template <typename Job, typename Coordinator>
QCoro::Task<> follow(Coordinator& coordinator, QUuid id, QTextStream& stream, int fileDescriptor)
{
    Job* job = coordinator.job(id);
    QuitSignals interrupt;
    QObject::connect(&interrupt, &QuitSignals::received, &coordinator,
                     [&coordinator, id](int) { coordinator.cancel(id); });
    {
        JobPrinter<Job> printer(*job, stream, fileDescriptor);
        if (!job->isFinished())
            co_await qCoro(job, &Job::finished);
    }
    // The coordinator is still inside the signal: let it return first.
    co_await sleepFor(std::chrono::milliseconds(0));
}

PHPSource sourceFor(AppServices& services, const QString& folder)
{
    const HerdService& herd = services.herd();
    return services.preferences().phpSource(herd.isParked(folder), herd.engine().has_value());
}

QString readPasswordLine()
{
    std::string line;
    std::getline(std::cin, line);
    QString password = QString::fromStdString(line);
    while (password.endsWith(QLatin1Char('\r')))
        password.chop(1);
    return password;
}

QCoro::Task<int> newSite(AppServices& services, QStringList args)
{
    const bool json = takeFlag(args, QStringLiteral("--json"));
    const bool database = takeFlag(args, QStringLiteral("--database"));
    const bool ssg = takeFlag(args, QStringLiteral("--ssg"));
    const bool https = takeFlag(args, QStringLiteral("--https"));
    const bool github = takeFlag(args, QStringLiteral("--github"));
    const bool isPublic = takeFlag(args, QStringLiteral("--public"));
    const bool git = takeFlag(args, QStringLiteral("--git")) || github;
    const auto name = takeValue(args, QStringLiteral("--name"), newUsage);
    const auto kit = takeValue(args, QStringLiteral("--kit"), newUsage);
    const auto release = takeValue(args, QStringLiteral("--release"), newUsage);
    const auto superUser = takeValue(args, QStringLiteral("--super-user"), newUsage);
    expectPlain(args, 1, newUsage);
    if (isPublic && !github)
        throw CliError::usage(newUsage);

    const QString folder = absoluteFolder(args.first());
    const QString folderName = QFileInfo(folder).fileName();
    NewSiteDraft draft;
    draft.destination = folder;
    draft.starterKit = kit;
    draft.version = release;
    draft.createSuperUser = superUser.has_value();
    if (superUser)
        draft.adminPassword = readPasswordLine();
    draft.phpSource = sourceFor(services, folder);
    draft.createGitHubRepo = github;
    if (const auto problem = co_await newSiteProblem(services, draft))
        throw CliError(*problem);

    auto site = std::make_shared<Site>(name.value_or(folderName), folder);
    site->setPhpSource(draft.phpSource);
    services.store().insertSite(site);

    InstallRequest request;
    request.siteID = site->id();
    request.destination = QUrl::fromLocalFile(folder);
    request.slug = HerdService::slug(folderName);
    request.version = release;
    request.starterKit = kit;
    request.contentStorage = database ? ContentStorage::database : ContentStorage::flatFiles;
    request.installSSG = ssg;
    request.createSuperUser = superUser.has_value();
    request.adminName = superUser.value_or(QString()).section(QLatin1Char('@'), 0, 0);
    request.adminEmail = superUser.value_or(QString());
    request.adminPassword = draft.adminPassword;
    request.secureHerd = https;
    request.phpSource = draft.phpSource;
    request.initGit = git;
    request.createGitHubRepo = github;
    request.githubRepoIsPrivate = !isPublic;
    if (github)
        request.githubToken = services.sourceControl().token(SourceControlProvider::github);

    InstallCoordinator& installs = services.installs();
    installs.start(request);
    QTextStream& log = json ? errStream() : out();
    co_await follow<InstallJob>(installs, site->id(), log, json ? STDERR_FILENO : STDOUT_FILENO);
    const InstallJob* job = installs.job(site->id());
    if (!job->succeeded()) {
        if (job->errorMessage() == QLatin1String("Cancelled"))
            throw CliError(QStringLiteral("Install cancelled."));
        printAdvice(log, services.lastAdvice());
        throw CliError(QStringLiteral("Install failed"));
    }
    if (json) {
        printJson(out(), siteJson(*site));
        co_return 0;
    }
    if (const auto instructions = job->postInstallInstructions(); instructions && !instructions->isEmpty())
        out() << '\n' << *instructions << '\n';
    out() << '\n' << site->displayName() << " is installed.\n";
    if (const auto url = HerdService::envAppURL(site->path()))
        out() << url->toString() << '\n';
    out().flush();
    co_return 0;
}

QCoro::Task<int> duplicate(AppServices& services, QStringList args)
{
    const bool json = takeFlag(args, QStringLiteral("--json"));
    const bool regenerateKey = takeFlag(args, QStringLiteral("--regenerate-key"));
    const bool removeGit = takeFlag(args, QStringLiteral("--remove-git"));
    const bool https = takeFlag(args, QStringLiteral("--https"));
    const auto name = takeValue(args, QStringLiteral("--name"), duplicateUsage);
    expectPlain(args, 2, duplicateUsage);
    const SitePtr source = resolveSite(services.store(), args.at(0));
    const QString folder = absoluteFolder(args.at(1));
    if (const auto problem = NewSiteChecks::cloneTarget(services.store(), source->path(), folder))
        throw CliError(*problem);

    auto site =
        std::make_shared<Site>(name.value_or(source->displayName() + QStringLiteral(" Copy")), folder);
    const PHPSource phpSource = sourceFor(services, folder);
    site->setPhpSource(phpSource);
    site->setUsesSSG(source->usesSSG());
    services.store().insertSite(site);

    CloneRequest request;
    request.sourceSiteID = source->id();
    request.targetSiteID = site->id();
    request.sourcePath = source->path();
    request.destination = QUrl::fromLocalFile(folder);
    request.slug = HerdService::slug(QFileInfo(folder).fileName());
    request.secureHerd = https;
    request.regenerateAppKey = regenerateKey;
    request.removeGit = removeGit;
    request.phpSource = phpSource;
    request.usesSSG = source->usesSSG();

    SiteCloneCoordinator& clones = services.clones();
    clones.start(request);
    QTextStream& log = json ? errStream() : out();
    co_await follow<CloneJob>(clones, site->id(), log, json ? STDERR_FILENO : STDOUT_FILENO);
    const CloneJob* job = clones.job(site->id());
    if (!job->succeeded()) {
        if (job->errorMessage() == QLatin1String("Cancelled"))
            throw CliError(QStringLiteral("Clone cancelled."));
        throw CliError(job->errorMessage().value_or(QStringLiteral("Clone failed")));
    }
    if (json) {
        printJson(out(), siteJson(*site));
        co_return 0;
    }
    out() << site->displayName() << " is ready.\n";
    if (const auto url = HerdService::envAppURL(site->path()))
        out() << url->toString() << '\n';
    out().flush();
    co_return 0;
}

QCoro::Task<int> addonInstall(AppServices& services, QStringList args)
{
    if (args.value(0) != QLatin1String("install"))
        throw CliError::usage(addonUsage);
    args.removeFirst();
    expectPlain(args, 2, addonUsage);
    const SitePtr site = resolveSite(services.store(), args.at(0));
    const QString package = args.at(1);
    QList<MarketplaceAddon> addons;
    try {
        addons = co_await services.marketplace().addons();
    } catch (const HalvikError& error) {
        throw CliError(QStringLiteral("Couldn’t load addons: ") + error.description());
    }
    const bool listed = std::any_of(addons.cbegin(), addons.cend(), [&](const MarketplaceAddon& addon) {
        return addon.isListed && addon.package.compare(package, Qt::CaseInsensitive) == 0;
    });
    if (!listed)
        throw CliError(QStringLiteral("There is no add-on “%1” in the marketplace.").arg(package));

    QObject context;
    auto sink = OperationLogSink::create(&context, [](const QString& batch, bool) {
        out() << batch << '\n';
        out().flush();
    });
    const ComposerService::OutputCallback forward = [sink](const ProcessOutput& line) {
        sink->append(line.line);
    };
    QString message;
    std::optional<QString> failure;
    try {
        const QString noConstraint;
        message = co_await services.composer().requirePackage(site, package, noConstraint, forward);
    } catch (const ComposerServiceError& error) {
        failure = error.description();
    }
    sink->flush();
    if (failure) {
        printAdvice(out(), ConflictTranslator::translate(*failure));
        throw CliError(QStringLiteral("The command failed; its output is above."));
    }
    out() << message << '\n';
    co_return 0;
}

} // namespace

bool isNewSiteCommand(const QString& verb)
{
    return verb == QLatin1String("new") || verb == QLatin1String("duplicate") ||
           verb == QLatin1String("addon");
}

QCoro::Task<int> runNewSiteCommand(AppServices& services, QString verb, QStringList args)
{
    if (verb == QLatin1String("new"))
        co_return co_await newSite(services, std::move(args));
    if (verb == QLatin1String("duplicate"))
        co_return co_await duplicate(services, std::move(args));
    co_return co_await addonInstall(services, std::move(args));
}

QList<CliCommand> newSiteCommands()
{
    const CliRunner runner = [](CliCall& call) {
        return runNewSiteCommand(call.app(), call.verb, call.args);
    };
    return {
        {.verb = QStringLiteral("new"),
         .summary = QStringLiteral("install a new Quillmar site"),
         .run = runner,
         .forms = {{.arguments =
                        QStringLiteral("<folder> [--name NAME] [--kit PACKAGE] [--release VERSION|latest] "
                                       "[--database] [--ssg] [--super-user EMAIL] [--https] [--git] "
                                       "[--github] [--public] [--json]"),
                    .help = QStringLiteral("install a new Quillmar site and register it"),
                    .options =
                        {{QStringLiteral("--name"), QStringLiteral("NAME"),
                          QStringLiteral("the site’s name")},
                         {QStringLiteral("--kit"), QStringLiteral("PACKAGE"),
                          QStringLiteral("a starter kit from the marketplace")},
                         {QStringLiteral("--release"), QStringLiteral("VERSION|latest"),
                          QStringLiteral("the quillmar/cms release")},
                         {QStringLiteral("--database"), {}, QStringLiteral("keep content in a database")},
                         {QStringLiteral("--ssg"), {}, QStringLiteral("add the static site generator")},
                         {QStringLiteral("--super-user"), QStringLiteral("EMAIL"),
                          QStringLiteral("create a super user; the password is read from standard input")},
                         {QStringLiteral("--https"), {}, QStringLiteral("serve it over HTTPS")},
                         {QStringLiteral("--git"), {}, QStringLiteral("make the first commit")},
                         {QStringLiteral("--github"), {}, QStringLiteral("also create a GitHub repository")},
                         {QStringLiteral("--public"), {}, QStringLiteral("make that repository public")},
                         jsonOption()}}}},
        {.verb = QStringLiteral("addon"),
         .summary = QStringLiteral("add a marketplace add-on to a site"),
         .run = runner,
         .forms = {{.subverb = QStringLiteral("install"),
                    .arguments = QStringLiteral("<site> PACKAGE"),
                    .help = QStringLiteral("add a listed add-on with Composer")}}},
        {.verb = QStringLiteral("duplicate"),
         .summary = QStringLiteral("copy a site into a new folder"),
         .run = runner,
         .forms =
             {{.arguments = QStringLiteral("<site> <folder> [--name NAME] [--regenerate-key] [--remove-git] "
                                           "[--https] [--json]"),
               .help = QStringLiteral("copy a site into a new folder and register the copy"),
               .options =
                   {{QStringLiteral("--name"), QStringLiteral("NAME"), QStringLiteral("the copy’s name")},
                    {QStringLiteral("--regenerate-key"), {}, QStringLiteral("give the copy a new APP_KEY")},
                    {QStringLiteral("--remove-git"), {}, QStringLiteral("leave the repository behind")},
                    {QStringLiteral("--https"), {}, QStringLiteral("serve the copy over HTTPS")},
                    jsonOption()}}}},
    };
}

} // namespace halvik::cli
