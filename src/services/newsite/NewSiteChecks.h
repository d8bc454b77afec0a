#pragma once

#include "services/composer/ComposerRecords.h"
#include "services/marketplace/MarketplaceRecords.h"

#include <QList>
#include <QString>

#include <optional>

namespace halvik {

class SiteStore;

// The checks that keep a doomed new site from starting: each answers the one sentence the
// wizard shows beside its disabled Create button and the command line prints, or nothing.
namespace NewSiteChecks {

// No site registered at the path and, unless an empty folder is acceptable, no folder there.
std::optional<QString> destination(const SiteStore& store, const QString& path, bool allowEmptyFolder);
// The kit is a listed starter kit (skipped when the catalogue is not known).
std::optional<QString> starterKit(const QString& package,
                                  const std::optional<QList<MarketplaceStarterKit>>& kits);
// The release is published (skipped when the release list is not known, and for "latest").
std::optional<QString> release(const QString& version,
                               const std::optional<QList<PackagistVersion>>& versions);
std::optional<QString> password(const QString& password);
// A destination inside the site being copied.
std::optional<QString> cloneDestination(const QString& sourcePath, const QString& destination);
// Everything that keeps a copy from being made there: a registered site, a folder inside the
// source, any folder at all.
std::optional<QString> cloneTarget(const SiteStore& store, const QString& sourcePath,
                                   const QString& destination);

} // namespace NewSiteChecks

} // namespace halvik
