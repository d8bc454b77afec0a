#pragma once

#include "async/Cancellation.h"

#include "GitRemoteRepository.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <optional>

namespace halvik {

class ProcessRunner;
struct ProcessResult;

// Cursor Origin through its command-line tool (`origin`): sign-in, Git credentials and
// repository creation all go through it; no token is kept by Halvik.
class OriginClient
{
public:
    explicit OriginClient(ProcessRunner& runner);

    static QStringList defaultCandidates();
    void setCandidates(QStringList candidates) { m_candidates = std::move(candidates); }
    // The shell that runs the install script (tests replace it).
    void setShell(QString shell) { m_shell = std::move(shell); }

    std::optional<QString> cliPath() const;
    QCoro::Task<> install();
    // A cancelled token stops the browser sign-in and its `origin` process.
    QCoro::Task<QString> login(CancellationToken cancel = {});
    QCoro::Task<QString> authenticatedUser();
    QCoro::Task<> logout();
    QCoro::Task<GitRemoteRepository> createRepository(QString name);

    // Reads `origin auth status` output: the login, or notLoggedIn / failed.
    static QString parseLogin(const QString& output);
    // Reads "<org>/<name>" from `origin repo create` output, if it names one.
    static std::optional<QPair<QString, QString>> parseCreatedRepo(const QString& output);
    static GitRemoteRepository repository(const QString& org, const QString& name);

private:
    QCoro::Task<ProcessResult> run(QStringList arguments, CancellationToken cancel = {});
    QString requireCLI() const;

    ProcessRunner& m_runner;
    QStringList m_candidates;
    QString m_shell = QStringLiteral("/bin/sh");
};

} // namespace halvik
