#include "GitSandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTest>

namespace halvik::test {

GitSandbox::GitSandbox() = default;

QString GitSandbox::path(const QString& name) const
{
    return QDir::isAbsolutePath(name) ? name : QDir(m_dir.path()).filePath(name);
}

QString GitSandbox::git(const QString& repo, const QStringList& args, int* exitCode) const
{
    QProcess process;
    process.setWorkingDirectory(path(repo));
    process.start(QStringLiteral("/usr/bin/git"), args);
    process.waitForFinished(60000);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    if (exitCode) {
        *exitCode = process.exitCode();
    } else if (process.exitCode() != 0) {
        QTest::qFail(qPrintable(QStringLiteral("git %1 failed: %2").arg(args.join(' '), err)), __FILE__,
                     __LINE__);
    }
    return out;
}

void GitSandbox::write(const QString& repo, const QString& relativePath, const QByteArray& content) const
{
    const QString full = QDir(path(repo)).filePath(relativePath);
    QDir().mkpath(QFileInfo(full).path());
    QFile file(full);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(content);
}

QByteArray GitSandbox::read(const QString& repo, const QString& relativePath) const
{
    QFile file(QDir(path(repo)).filePath(relativePath));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void GitSandbox::commitAll(const QString& repo, const QString& message) const
{
    git(repo, {QStringLiteral("add"), QStringLiteral("-A")});
    git(repo, {QStringLiteral("commit"), QStringLiteral("-q"), QStringLiteral("-m"), message});
}

QString GitSandbox::makeRepo(const QString& name, const QMap<QString, QByteArray>& files) const
{
    const QString repo = path(name);
    QDir().mkpath(repo);
    git(repo, {QStringLiteral("init"), QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("main")});
    write(repo, QStringLiteral("README.md"), "hello\n");
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        write(repo, it.key(), it.value());
    commitAll(repo, QStringLiteral("First"));
    return repo;
}

QString GitSandbox::makeRemoteFor(const QString& repo, const QString& remoteName) const
{
    const QString remote = path(remoteName);
    git(root(), {QStringLiteral("init"), QStringLiteral("-q"), QStringLiteral("--bare"), QStringLiteral("-b"),
                 QStringLiteral("main"), remote});
    git(repo, {QStringLiteral("remote"), QStringLiteral("add"), QStringLiteral("origin"), remote});
    git(repo, {QStringLiteral("push"), QStringLiteral("-q"), QStringLiteral("-u"), QStringLiteral("origin"),
               QStringLiteral("main")});
    return remote;
}

QString GitSandbox::clone(const QString& remote, const QString& name) const
{
    const QString target = path(name);
    git(root(), {QStringLiteral("clone"), QStringLiteral("-q"), remote, target});
    return target;
}

void GitSandbox::configureIdentity()
{
    QFile config(QDir::home().filePath(QStringLiteral(".gitconfig")));
    config.open(QIODevice::WriteOnly | QIODevice::Truncate);
    config.write("[user]\n\tname = Test Person\n\temail = test@example.invalid\n"
                 "[init]\n\tdefaultBranch = main\n[advice]\n\tdetachedHead = false\n");
}

QString GitSandbox::makeRecordingGit(const QString& logPath, double commitDelay) const
{
    const QString script = path(QStringLiteral("recording-git"));
    QFile file(script);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(QStringLiteral("#!/bin/sh\n"
                              "echo \"start $PWD CEIL=$GIT_CEILING_DIRECTORIES ARGS $*\" >> '%1'\n"
                              "case \" $* \" in *\" commit \"*) sleep %2;; esac\n"
                              "/usr/bin/git \"$@\"\nrc=$?\n"
                              "echo \"end $PWD\" >> '%1'\n"
                              "exit $rc\n")
                   .arg(logPath)
                   .arg(commitDelay)
                   .toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return script;
}

} // namespace halvik::test
