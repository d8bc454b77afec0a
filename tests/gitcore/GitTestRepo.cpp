#include "GitTestRepo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

namespace halvik::test {

GitTestRepo::GitTestRepo()
{
    ok({QStringLiteral("init"), QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("main")});
}

GitRun GitTestRepo::git(const QStringList& args, const QByteArray& input) const
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("GIT_CONFIG_NOSYSTEM"), QStringLiteral("1"));
    env.insert(QStringLiteral("GIT_AUTHOR_NAME"), QStringLiteral("Ada Tester"));
    env.insert(QStringLiteral("GIT_AUTHOR_EMAIL"), QStringLiteral("ada@example.test"));
    env.insert(QStringLiteral("GIT_COMMITTER_NAME"), QStringLiteral("Ada Tester"));
    env.insert(QStringLiteral("GIT_COMMITTER_EMAIL"), QStringLiteral("ada@example.test"));
    env.insert(QStringLiteral("GIT_AUTHOR_DATE"), QStringLiteral("1700000000 +0000"));
    env.insert(QStringLiteral("GIT_COMMITTER_DATE"), QStringLiteral("1700000000 +0000"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("git"),
                  QStringList{QStringLiteral("-c"), QStringLiteral("core.quotePath=false")} + args);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QString GitTestRepo::ok(const QStringList& args, const QByteArray& input) const
{
    const GitRun run = git(args, input);
    if (run.exitCode != 0)
        QTest::qFail(qPrintable(QStringLiteral("git %1 failed: %2").arg(args.join(' '), run.err)), __FILE__,
                     __LINE__);
    return run.out;
}

void GitTestRepo::write(const QString& relativePath, const QByteArray& content) const
{
    const QString full = m_dir.filePath(relativePath);
    QDir().mkpath(QFileInfo(full).path());
    QFile file(full);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        QTest::qFail(qPrintable(QStringLiteral("cannot write %1").arg(full)), __FILE__, __LINE__);
    file.write(content);
}

void GitTestRepo::commitAll(const QString& message) const
{
    ok({QStringLiteral("add"), QStringLiteral("-A")});
    ok({QStringLiteral("commit"), QStringLiteral("-q"), QStringLiteral("-m"), message});
}

} // namespace halvik::test
