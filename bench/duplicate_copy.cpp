// duplicate-copy: the copy a duplicate makes of a 30,000-file, 150 MB vendor-shaped tree (with
// links, one of them absolute into the tree) against `cp -a` of the same tree, best of three.
#include "BenchReport.h"

#include "services/cloning/FolderCopier.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace halvik;

namespace {

// HALVIK_BENCH_FILES makes a smaller tree of the same shape (the default is the full size).
void buildTree(const QString& root, int total)
{
    const QByteArray small(3 * 1024, 'p');
    const QByteArray large(2 * 1024 * 1024, 'b');
    int files = 0;
    for (int vendor = 0; vendor < 60 && files < total; ++vendor)
        for (int package = 0; package < 10 && files < total; ++package) {
            const QString folder = QStringLiteral("%1/vendor/v%2/p%3/src").arg(root).arg(vendor).arg(package);
            QDir().mkpath(folder);
            for (int i = 0; i < 50 && files < total; ++i, ++files) {
                QFile file(QStringLiteral("%1/F%2.php").arg(folder).arg(i));
                file.open(QIODevice::WriteOnly);
                file.write(files % 600 == 0 ? large : small);
            }
            QFile::link(QStringLiteral("../src/F0.php"), QStringLiteral("%1/../link.php").arg(folder));
        }
    QDir().mkpath(root + QStringLiteral("/storage/app/public"));
    QDir().mkpath(root + QStringLiteral("/public"));
    QFile::link(root + QStringLiteral("/storage/app/public"), root + QStringLiteral("/public/storage"));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString source = dir.path() + QStringLiteral("/site");
    const int total = qEnvironmentVariableIntValue("HALVIK_BENCH_FILES") > 0
                          ? qEnvironmentVariableIntValue("HALVIK_BENCH_FILES")
                          : 30000;
    buildTree(source, total);
    int run = 0;
    const double copier = bench::bestSeconds(3, [&] {
        const QString target = dir.path() + QStringLiteral("/copy-%1").arg(run++);
        std::atomic<bool> stop{false};
        FolderCopier::copy({source, target, {}}, stop);
        QDir(target).removeRecursively();
    });
    const double cp = bench::bestSeconds(3, [&] {
        const QString target = dir.path() + QStringLiteral("/cp-%1").arg(run++);
        QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), source, target});
        QDir(target).removeRecursively();
    });
    bench::report(
        QStringLiteral("duplicate-copy"), copier, QStringLiteral("s"), cp,
        QStringLiteral("%1 files (~5 KB each, some 2 MB), copied as a duplicate copies vs cp -a").arg(total));
    return 0;
}
