#include "AppServices.h"

#include "services/appearance/SiteAppearanceService.h"

namespace halvik {

SiteAppearanceService& AppServices::appearance()
{
    if (auto* drawing = dynamic_cast<SiteAppearanceService*>(m_appearance.get()))
        return *drawing;
    // Nothing is lost in the swap: the headless keeper holds no state of its own.
    auto drawing = std::make_unique<SiteAppearanceService>(*m_runner);
    SiteAppearanceService& service = *drawing;
    m_appearance = std::move(drawing);
    if (m_selectedSiteID)
        service.setPrioritySite(m_selectedSiteID);
    return service;
}

} // namespace halvik
