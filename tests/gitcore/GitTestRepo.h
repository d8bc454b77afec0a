#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace halvik::test {

struct GitRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// A real repository in a temporary folder, driven by the real `git` with a fixed identity,
// fixed dates and no system or user configuration.
class GitTestRepo
{
public:
    GitTestRepo();

    QString path() const { return m_dir.path(); }
    GitRun git(const QStringList& args, const QByteArray& input = {}) const;
    // Runs git and fails the current test when it exits non-zero.
    QString ok(const QStringList& args, const QByteArray& input = {}) const;
    void write(const QString& relativePath, const QByteArray& content) const;
    void commitAll(const QString& message) const;

private:
    QTemporaryDir m_dir;
};

} // namespace halvik::test
