#pragma once

#include "models/Site.h"

#include <QCoroTask>
#include <QList>
#include <QPair>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace halvik {

// What the application services ask of sites' icons and previews. The images are decoded and
// drawn with the GUI libraries, which a plain command never loads: the window and the commands
// that draw images install SiteAppearanceService; without it, HeadlessSiteAppearances keeps
// the cache folders tidy.
class SiteAppearances
{
public:
    virtual ~SiteAppearances() = default;

    // Ends the work under way; nothing new starts afterwards.
    virtual void stop() = 0;
    // Loads each site's cached icon, off the main thread.
    virtual QCoro::Task<> warmFromDisk(QList<SitePtr> sites) = 0;
    // Starts a refresh unless one runs for the site; without `force`, only what is stale.
    virtual void refresh(const SitePtr& site, std::optional<QUrl> baseURL, bool force) = 0;
    // Refreshes many sites a few at a time, the priority site first.
    virtual void refreshAll(const QList<QPair<SitePtr, std::optional<QUrl>>>& sites, bool force) = 0;
    // The site the person is looking at: its refresh and its render go first.
    virtual void setPrioritySite(std::optional<QUuid> site) = 0;
    // Forgets the site's icon and preview and deletes its folder.
    virtual void invalidate(const QUuid& site) = 0;
};

} // namespace halvik
