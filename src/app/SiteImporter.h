#pragma once

#include "models/Site.h"

#include <QCoroTask>

#include <functional>
#include <optional>

namespace halvik {

class HerdService;
class SiteStore;
class GitService;

// Registers a folder that already holds a site: name, serving engine, static-site use and
// GitHub repository, newest first in the store. Never fails; what cannot be read stays unset.
class SiteImporter
{
public:
    // Called with each new site so its preview can be refreshed.
    using SiteAdded = std::function<void(const SitePtr&)>;

    SiteImporter(SiteStore& store, HerdService& herd, GitService& git);

    // The caller checks `store.siteAtPath` first; a registered folder is not imported twice.
    QCoro::Task<SitePtr> importExistingSite(QString path, std::optional<QString> name = std::nullopt);
    void setSiteAdded(SiteAdded added) { m_added = std::move(added); }

    // Whether installed.json, or else composer.lock, mentions the static-site generator.
    static bool mentionsStaticGenerator(const QString& path);

private:
    SiteStore& m_store;
    HerdService& m_herd;
    GitService& m_git;
    SiteAdded m_added;
};

} // namespace halvik
