#pragma once

#include "async/Cancellation.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <optional>

namespace halvik {

class ProcessRunner;
struct ProcessResult;

// The GitHub command-line tool (`gh`), and Homebrew to install it where there is one.
class GitHubCLI
{
public:
    explicit GitHubCLI(ProcessRunner& runner);

    // Where `gh` and `brew` are looked for, in order (home-relative entries already expanded);
    // `gh` is also found on PATH. Tests narrow both lists.
    static QStringList defaultCandidates();
    static QStringList defaultBrewCandidates();
    void setCandidates(QStringList candidates, bool searchPath)
    {
        m_candidates = std::move(candidates);
        m_searchPath = searchPath;
    }
    void setBrewCandidates(QStringList candidates) { m_brewCandidates = std::move(candidates); }

    std::optional<QString> cliPath() const;
    std::optional<QString> brewPath() const;
    QCoro::Task<> install();
    // A cancelled token stops the browser sign-in and its `gh` process.
    QCoro::Task<QString> login(CancellationToken cancel = {});
    QCoro::Task<QString> token();

    // Added in front of PATH for every `gh` and `brew` run.
    static QStringList searchPathAdditions();

private:
    QCoro::Task<ProcessResult> run(QString executable, QStringList arguments, CancellationToken cancel,
                                   QMap<QString, QString> environment);

    ProcessRunner& m_runner;
    QStringList m_candidates;
    QStringList m_brewCandidates;
    bool m_searchPath = true;
};

} // namespace halvik
