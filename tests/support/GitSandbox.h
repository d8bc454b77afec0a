#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace halvik::test {

// Real repositories for service tests: a temporary folder holding any number of working
// repositories and bare remotes, driven by /usr/bin/git directly (blocking, test side only).
class GitSandbox
{
public:
    GitSandbox();

    QString root() const { return m_dir.path(); }
    QString path(const QString& name) const;

    // Runs git in `repo` (a folder under root() or an absolute path) and returns stdout; fails
    // the current test (QVERIFY-style, via qFatal-free QTest::qFail) on a non-zero exit.
    QString git(const QString& repo, const QStringList& args, int* exitCode = nullptr) const;
    void write(const QString& repo, const QString& relativePath, const QByteArray& content) const;
    QByteArray read(const QString& repo, const QString& relativePath) const;
    void commitAll(const QString& repo, const QString& message) const;

    // A working repository on main with one commit holding `files`.
    QString makeRepo(const QString& name, const QMap<QString, QByteArray>& files = {}) const;
    // A bare remote seeded from `repo`, set as its origin with main tracking origin/main.
    QString makeRemoteFor(const QString& repo, const QString& remoteName) const;
    // A second working copy of a bare remote.
    QString clone(const QString& remote, const QString& name) const;

    // Writes a global configuration with an identity into the current (isolated) HOME.
    static void configureIdentity();
    // A `git` stand-in that records each run (start/end, arguments, working folder and the
    // ceiling variable) in `logPath`, pausing `commitDelay` seconds before a commit.
    QString makeRecordingGit(const QString& logPath, double commitDelay = 0) const;

private:
    QTemporaryDir m_dir;
};

} // namespace halvik::test
