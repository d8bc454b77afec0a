#pragma once

#include "async/HalvikError.h"
#include "models/Site.h"
#include "services/composer/ComposerRecords.h"

#include <QCoroTask>
#include <QString>

#include <optional>

namespace halvik {

class LaravelConfigurationResolver;

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
QCoro::Task<QString> outputDirectory(LaravelConfigurationResolver& resolver, QString siteFolder, QString php);
// Optional files for Git-based builds on those hosts; the output folder must lie inside the project.
void writeNetlifyToml(const QString& siteFolder, const QString& outputDirectory);
void writeCloudflarePagesConfig(const QString& siteFolder, const QString& outputDirectory,
                                const QString& projectName = {});

} // namespace StaticSiteSupport

} // namespace halvik
