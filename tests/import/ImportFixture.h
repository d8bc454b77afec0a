#pragma once

#include "FakeEngine.h"
#include "FakePrompts.h"

#include "app/AppServices.h"
#include "app/SiteImporter.h"
#include "models/SecretStore.h"
#include "services/HerdService.h"
#include "services/ProcessRunner.h"
#include "services/git/GitService.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

namespace halvik::test {

// The services an import needs, over a fake machine and a fresh store.
struct ImportFixture
{
    QTemporaryDir dir;
    FakeEngine fake{dir.filePath("machine")};
    SecretStore secrets{dir.filePath("secrets.json")};
    FakePrompts prompts;
    AppServices services{secrets, prompts};
    HerdService herd{fake.roots()};
    ProcessRunner runner;
    GitService git{runner};
    SiteImporter importer{services.store(), herd, git};

    // A folder with the given top-level files (name -> contents).
    static QString makeFolder(const QString& path, const QMap<QString, QByteArray>& files = {})
    {
        QDir().mkpath(path);
        for (auto it = files.begin(); it != files.end(); ++it)
            FakeEngine::writeFile(path + QLatin1Char('/') + it.key(), it.value());
        return path;
    }
    static QString makeQuillmarSite(const QString& path)
    {
        return makeFolder(path, {{"keffin", "#!/usr/bin/env php\n"}, {"composer.json", "{}"}});
    }
    static void runGit(const QString& path, const QStringList& args)
    {
        QProcess process;
        process.setWorkingDirectory(path);
        process.start("git", args);
        process.waitForFinished();
    }
};

} // namespace halvik::test
