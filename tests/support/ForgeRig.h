#pragma once

#include "FakeApiServer.h"
#include "FakeForge.h"
#include "GitSandbox.h"
#include "WaitFor.h"

#include "app/DeployCoordinator.h"
#include "app/NotificationService.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "platform/DesktopNotifier.h"
#include "services/ProcessRunner.h"
#include "services/accounts/SourceControlService.h"
#include "services/git/GitService.h"
#include "services/hosting/ForgeClient.h"
#include "services/hosting/HostAccountService.h"

#include <QDir>

#include <memory>

namespace halvik::test {

// Sets an environment variable for as long as it lives.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const QString& value);
    ~ScopedEnv();

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

// Remembers what a job would have told the desktop.
class RecordingNotifier : public DesktopNotifier
{
public:
    explicit RecordingNotifier(QStringList* titles) : m_titles(titles) {}
    void prepare() override {}
    void post(const QString& title, const QString&) override { *m_titles << title; }

private:
    QStringList* m_titles;
};

// GitHub's API creating bare repositories that a Git smart-HTTP server then serves, both
// demanding `token`.
class FakeGitHub
{
public:
    FakeGitHub(GitSandbox& box, QByteArray token);
    bool start() { return m_git.start() && m_api.start(); }
    QString projects() const { return m_projects; }
    QString gitRoot() const { return m_git.root(); }
    QString apiRoot() const { return m_api.root(); }
    // Bare repository served as owner/name.
    QString bare(const QString& fullName) const { return m_projects + QLatin1Char('/') + fullName + ".git"; }
    QString cloneURL(const QString& fullName) const
    {
        return m_git.root() + QLatin1Char('/') + fullName + ".git";
    }
    void makeBare(const QString& fullName) const;
    int created() const { return m_created; }

private:
    GitSandbox& m_box;
    QByteArray m_token;
    QString m_projects;
    int m_accepted = 0;
    int m_created = 0;
    FakeApiServer m_git;
    FakeApiServer m_api;
};

// Every service a deploy touches, in a sandbox, with a Forge and a GitHub fake; polling waits
// no time at all unless a test says otherwise.
struct ForgeRig
{
    static constexpr auto forgeToken = "forge-token-7c1e";
    static constexpr auto githubToken = "ghp_rig_token_31";

    ForgeRig();
    ~ForgeRig();

    // Connects the Forge account (and GitHub when `github`).
    HostAccountPtr connect(bool github = true);
    SitePtr addSite(const QString& name, const QString& folder);
    // Waits for the job to end; fails the test after a minute.
    bool waitFor(DeployJob* job);
    ForgeDeployPlan plan(const HostAccountPtr& host,
                         const QString& repository = QStringLiteral("shop")) const;

    GitSandbox box;
    FakeForge forge{forgeToken};
    FakeGitHub github{box, githubToken};
    std::unique_ptr<ScopedEnv> forgeURL;
    std::unique_ptr<ScopedEnv> githubAPI;
    std::unique_ptr<ScopedEnv> githubWeb;
    QStringList notices;
    QList<std::chrono::milliseconds> sleeps;
    SecretStore secrets;
    SiteStore store;
    ProcessRunner runner;
    GitService git;
    SourceControlService sourceControl;
    NotificationService notifications;
    ForgeClient client;
    HostAccountService hosts;
    DeployCoordinator deploys;
};

} // namespace halvik::test
