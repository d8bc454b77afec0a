#pragma once

#include "FakeCloudflare.h"
#include "FakeNetlify.h"
#include "FakePrompts.h"
#include "ForgeRig.h"

#include "app/AppServices.h"
#include "models/SecretStore.h"

#include <QMap>
#include <QTemporaryDir>

#include <memory>

namespace halvik::test {

// Copies the Laravel fixture with the static-site generator's overlay to `path`.
void makeSSGSite(const QString& path);
// Every file under the folder: relative path → bytes.
QMap<QString, QByteArray> folderFiles(const QString& folder);
// Writes a file, making its folder.
void writeFile(const QString& path, const QByteArray& bytes);
// Whether any running process's command line contains `marker`.
bool processRunning(const QByteArray& marker);

// A whole application with Netlify and Cloudflare fakes and one generator site.
struct StaticMachine
{
    static constexpr auto netlifyToken = "nfp_CANARY_netlify_8d1f";
    static constexpr auto cloudflareToken = "cf_CANARY_token_42aa";
    static constexpr auto accountID = "acc-7f3e";

    StaticMachine();
    ~StaticMachine();

    HostAccountPtr connectNetlify();
    HostAccountPtr connectCloudflare();
    // The site's generator output folder.
    QString output() const { return site->path() + QStringLiteral("/storage/app/static"); }

    bool wiped;
    QTemporaryDir sites;
    FakeNetlify netlify{netlifyToken};
    FakeCloudflare cloudflare{cloudflareToken, QString::fromLatin1(accountID)};
    bool started;
    ScopedEnv netlifyURL;
    ScopedEnv cloudflareURL;
    FakePrompts prompts;
    SecretStore secrets{QString()};
    AppServices services;
    SitePtr site;
};

} // namespace halvik::test
