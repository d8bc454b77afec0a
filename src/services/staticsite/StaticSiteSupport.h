#pragma once

#include "async/HalvikError.h"
#include "models/Site.h"
#include "services/composer/ComposerRecords.h"

#include <QCoroTask>
#include <QMap>
#include <QString>

#include <memory>
#include <optional>

namespace halvik {

class LaravelConfigurationResolver;
class LiveOutputRewriter;

class StaticSiteSupportError : public HalvikError
{
public:
    using HalvikError::HalvikError;
    static StaticSiteSupportError outputOutsideProject()
    {
        return StaticSiteSupportError(QStringLiteral(
            "Optional Git-based host configuration requires an output folder inside the project. Local "
            "generation and direct publishing support external folders."));
    }
    static StaticSiteSupportError emptyOutput()
    {
        return StaticSiteSupportError(QStringLiteral("The static output directory is empty."));
    }
};

// What a site needs to be published as a generated static site. Stateless.
namespace StaticSiteSupport {

inline constexpr auto ssgPackage = "quillmar/ssg";

bool hasSSGPackage(const SiteManifest& manifest);
// Looks for the generator in installed.json, else composer.lock, else the manifest, and stores
// the answer in the site's usesSSG.
bool refreshUsesSSG(Site& site, const std::optional<SiteManifest>& manifest = std::nullopt);
// Appends ASSET_URL=/ to .env unless it has an ASSET_URL line; true when it wrote.
bool ensureAssetURL(const QString& siteFolder);
// The generator's output folder (`quillmar.ssg.destination`), relative paths taken against the
// site folder.
QCoro::Task<QString> outputDirectory(LaravelConfigurationResolver& resolver, QString siteFolder, QString php,
                                     QMap<QString, QString> environment = {});

// The extensions of generated files whose text may name the local host.
QStringList rewrittenExtensions();
// Replaces, in the output's text files, the origin of the .env's APP_URL and every http(s)
// origin of a ".test" host (port included) by a root-relative path: an origin followed by "/"
// is dropped, any other becomes "/". A file is written only when it changed. Returns the number
// of replacements. Blocking: see rewriteLocalAbsoluteURLsAsync.
int rewriteLocalAbsoluteURLs(const QString& outputFolder, const QString& siteFolder);

struct RewriteSummary
{
    int replacements = 0;
    int files = 0; // every file of the output, rewritten or not
};
// rewriteLocalAbsoluteURLs, counting the output's files in the same walk.
RewriteSummary rewriteOutput(const QString& outputFolder, const QString& siteFolder);

// The rewrite of one generation's output, begun as soon as the folder is known: while the
// generator still runs, files are rewritten as it finishes them, where the system can follow it.
class OutputRewrite
{
public:
    // `followWriter`: the generator is still writing.
    OutputRewrite(QString outputFolder, QString siteFolder, bool followWriter);
    ~OutputRewrite();
    OutputRewrite(const OutputRewrite&) = delete;
    OutputRewrite& operator=(const OutputRewrite&) = delete;

    const QString& outputFolder() const { return m_output; }
    // Once the generator has exited: what rewriteOutput does and returns. Blocks.
    RewriteSummary finish();

private:
    QString m_output;
    QString m_site;
    std::unique_ptr<LiveOutputRewriter> m_live;
};

// A folder of generated files that is not empty and whose rewriting was not interrupted: one
// that was may hold half-written pages and must be generated again.
bool isCompleteOutput(const QString& outputFolder);
QCoro::Task<int> rewriteLocalAbsoluteURLsAsync(QString outputFolder, QString siteFolder);
// "Rewrote 1 local absolute URL to root-relative paths", "… 2 local absolute URLs …".
QString rewroteLine(int count);

// An "https://" address without a trailing slash, or empty for an empty one.
QString preferredPublicURL(const QString& address);
// A name a new Netlify site or Cloudflare project can take: lower-case, each run of other
// characters than a-z and 0-9 one "-", trimmed, at most 58 characters.
QString hostSiteName(const QString& name);
// The project of an address under Cloudflare Pages' own domain (its first label), else empty.
QString cloudflareProjectName(const QString& address);
// Optional files for Git-based builds on those hosts; the output folder must lie inside the project.
void writeNetlifyToml(const QString& siteFolder, const QString& outputDirectory);
void writeCloudflarePagesConfig(const QString& siteFolder, const QString& outputDirectory,
                                const QString& projectName = {});

} // namespace StaticSiteSupport

} // namespace halvik
