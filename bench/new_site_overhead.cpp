// new-site-overhead: `halvik new <folder> --git` of a fresh flat-file site, against a shell
// script running the same commands (create-project, copy .env, key:generate, git init, add,
// commit), best of three each in the same run. Composer works offline from the tests' fixture
// packages through a path repository in Halvik's Composer home, Packagist switched off.
// Goal: ratio 1.15.
#include "BenchMachine.h"
#include "BenchReport.h"

#include "services/ProcessRunner.h"
#include "services/runtime/RuntimeManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

using namespace halvik;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("new-site-overhead: cannot write %s", qPrintable(path));
    file.write(bytes);
}

double timed(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        qFatal("new-site-overhead: %s failed:\n%s", qPrintable(program), process.readAll().constData());
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    bench::isolateHome(home.path());
    QCoreApplication app(argc, argv);

    // Halvik's Composer home, as the program will compute it in this environment.
    ProcessRunner runner;
    RuntimeManager runtime(runner, RuntimeRoots::system());
    const QString composerHome = runtime.composerEnvironment().value(QStringLiteral("COMPOSER_HOME"));
    const QJsonObject path{{"type", "path"},
                           {"url", QStringLiteral(HALVIK_SOURCE_DIR "/tests/fixtures/newsite-packages/*")},
                           {"options", QJsonObject{{"symlink", false}}}};
    writeFile(
        composerHome + QStringLiteral("/config.json"),
        QJsonDocument(QJsonObject{{"repositories", QJsonArray{path, QJsonObject{{"packagist.org", false}}}}})
            .toJson());
    writeFile(home.path() + QStringLiteral("/gitconfig"),
              "[user]\n\tname = Bench\n\temail = bench@example.com\n[init]\n\tdefaultBranch = main\n");

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("GIT_CONFIG_GLOBAL"), home.path() + QStringLiteral("/gitconfig"));
    environment.insert(QStringLiteral("COMPOSER_ALLOW_SUPERUSER"), QStringLiteral("1"));
    environment.insert(QStringLiteral("HALVIK_PACKAGIST_URL"), QStringLiteral("http://127.0.0.1:9"));
    environment.insert(QStringLiteral("HALVIK_MARKETPLACE_URL"), QStringLiteral("http://127.0.0.1:9"));
    QProcessEnvironment direct = environment;
    direct.insert(QStringLiteral("COMPOSER_HOME"), composerHome);

    const QString script = QStringLiteral(R"(set -e
cd "$1"
composer create-project quillmar/quillmar "$2" --remove-vcs --prefer-dist --no-progress --no-interaction
cd "$2"
cp .env.example .env
php artisan key:generate --force
git init -q
git add -A
git commit -q -m "Initial commit"
)");
    const QString sites = home.path() + QStringLiteral("/Sites");
    QDir().mkpath(sites);
    double halvik = 1e300;
    double baseline = 1e300;
    for (int run = 0; run < 3; ++run) {
        baseline = std::min(baseline, timed(QStringLiteral("bash"),
                                            {QStringLiteral("-c"), script, QStringLiteral("bash"), sites,
                                             QStringLiteral("plain-%1").arg(run)},
                                            direct));
        halvik = std::min(halvik, timed(QStringLiteral(HALVIK_BINARY),
                                        {QStringLiteral("new"), sites + QStringLiteral("/site-%1").arg(run),
                                         QStringLiteral("--git")},
                                        environment));
    }
    bench::report(
        QStringLiteral("new-site-overhead"), halvik, QStringLiteral("s"), baseline,
        QStringLiteral("halvik new --git against the same commands in a script, best of three; goal "
                       "ratio 1.15"));
    return 0;
}
