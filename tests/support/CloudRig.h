#pragma once

#include "FakeCloud.h"
#include "ForgeRig.h"

#include "services/composer/ComposerService.h"
#include "services/hosting/LaravelCloudClient.h"
#include "services/runtime/RuntimeManager.h"

#include <memory>

namespace halvik::test {

// The Forge rig's services with a Laravel Cloud fake and client attached to the deploy
// coordinator; polling waits no time unless a test says otherwise.
struct CloudRig
{
    static constexpr auto cloudToken = "cloud-token-canary-9f3a";

    CloudRig();
    ~CloudRig();

    // Stores the Cloud account (as a sign-in would) and, when `github`, connects GitHub.
    HostAccountPtr connect(bool github = true);
    CloudDeployPlan plan(const HostAccountPtr& host, const QString& name = QStringLiteral("shop")) const;
    // A site folder with a git repository whose origin is already on GitHub.
    SitePtr addSiteOnGitHub(const QString& name);
    // Makes the site keep its content in the database.
    static void makeDatabaseMode(const QString& folder);

    ForgeRig rig;
    FakeCloud cloud{cloudToken};
    std::unique_ptr<ScopedEnv> cloudURL;
    LaravelCloudClient client{&rig.runner};
    RuntimeManager runtime{rig.runner};
    ComposerService composer{rig.runner, runtime, nullptr};
    QList<std::chrono::milliseconds> sleeps;
};

} // namespace halvik::test
