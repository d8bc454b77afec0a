#pragma once

#include "ProcessRunner.h"

#include "gitcore/GitStatus.h"

#include <QCoroTask>

namespace halvik {

// The little an import needs to know about a folder's repository: its branch and origin,
// read through the runner. Stands in until the Git service offers its snapshot.
class SiteGitProbe
{
public:
    explicit SiteGitProbe(ProcessRunner& runner) : m_runner(runner) {}

    // A `.git` entry, file or folder, makes a repository.
    static bool isRepository(const QString& path);

    // Branch and origin remote, without history. `isRepo` false when Git cannot say.
    QCoro::Task<gitcore::GitStatus> snapshot(QString path);

private:
    QCoro::Task<std::optional<ProcessResult>> git(QString path, QStringList arguments);

    ProcessRunner& m_runner;
};

} // namespace halvik
