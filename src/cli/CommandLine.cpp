#include "CommandLine.h"

#include "CliContext.h"
#include "CommandTable.h"

#include "async/FireAndForget.h"

#include <QCoreApplication>
#include <QTimer>

#include <memory>

namespace halvik::cli {

namespace {

QCoro::Task<int> dispatch(QStringList args)
{
    const QString word = args.value(0);
    if (word.isEmpty())
        throw CliError::usage(QStringLiteral("Name a command."));
    const CliCommand* command = findCommand(word);
    if (!command)
        throw CliError::usage(QStringLiteral("Unknown command “%1”.").arg(word));

    CliCall call{command->verb, args.mid(1)};
    if (command->needs == CliCommand::Needs::nothing)
        co_return co_await command->run(call);

    CliPrompts prompts;
    AppServices services(SecretStore::shared(), prompts);
    co_await services.bootstrap(AppServices::BootstrapScope::command);
    call.services = &services;
    const int code = co_await command->run(call);
    // A change the disk refused is the command's failure, in one sentence.
    services.store().flush();
    services.checkSaves();
    if (const auto problem = services.saveProblem())
        throw CliError(*problem);
    // Whatever the command could not ask a person about is its failure.
    if (!prompts.alerts.isEmpty())
        throw CliError(prompts.alerts.join(QLatin1Char(' ')));
    co_return code;
}

QCoro::Task<> runAndQuit(QStringList args)
{
    const int code = co_await runCommand(std::move(args));
    QCoreApplication::exit(code);
}

} // namespace

int reportFailure(std::exception_ptr error)
{
    out().flush();
    QString sentence;
    int code = 1;
    bool usage = false;
    try {
        std::rethrow_exception(error);
    } catch (const CliError& failure) {
        sentence = failure.description();
        code = failure.exitCode();
        usage = failure.kind() == CliError::Kind::usage;
    } catch (const HalvikError& failure) {
        sentence = failure.description();
    } catch (const std::exception& failure) {
        sentence = QString::fromUtf8(failure.what());
    } catch (...) {
        sentence = QStringLiteral("Something went wrong.");
    }
    QTextStream err(stderr);
    err << "halvik: " << sentence.simplified() << '\n';
    if (usage)
        err << "Run “halvik help” for the commands and their options.\n";
    err.flush();
    return code;
}

QCoro::Task<int> runCommand(QStringList args)
{
    std::exception_ptr failure;
    try {
        const int code = co_await dispatch(std::move(args));
        out().flush();
        co_return code;
    } catch (...) {
        failure = std::current_exception();
    }
    co_return reportFailure(failure);
}

std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv, const CliCommand*)
{
    return std::make_unique<QCoreApplication>(argc, argv);
}

int run(int argc, char** argv, ApplicationMaker make)
{
    const CliCommand* command = argc > 1 ? findCommand(QString::fromLocal8Bit(argv[1])) : nullptr;
    std::unique_ptr<QCoreApplication> application = make(argc, argv, command);
    QCoreApplication& app = *application;
    QCoreApplication::setApplicationName(QStringLiteral("Halvik"));
    QCoreApplication::setApplicationVersion(QStringLiteral(HALVIK_VERSION));
    const QStringList args = app.arguments().mid(1);
    // Started once the loop runs, so the command's own exit() ends it.
    QTimer::singleShot(0, &app, [args] { fireAndForget(QCoreApplication::instance(), runAndQuit(args)); });
    return app.exec();
}

} // namespace halvik::cli
