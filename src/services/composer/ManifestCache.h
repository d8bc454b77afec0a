#pragma once

#include "ComposerRecords.h"

namespace halvik::ManifestCache {

// The site's manifest as `ComposerFiles::readManifest` reads it, parsed again only when one of
// the files it comes from changed (modification time, size or identity). Thread-safe: the
// window reads it off the main thread while the command line reads it on its own.
SiteManifest read(const QString& sitePath);

// Forgets every cached manifest.
void clear();

} // namespace halvik::ManifestCache
