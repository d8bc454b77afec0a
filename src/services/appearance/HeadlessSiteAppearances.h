#pragma once

#include "SiteAppearances.h"

#include <QString>

namespace halvik {

// Site appearances for a command that draws nothing: a headless command never refreshes icons
// or previews, but a site it deletes or replaces still loses its cached ones.
class HeadlessSiteAppearances : public SiteAppearances
{
public:
    // `root` holds previews/; empty means the application folder.
    explicit HeadlessSiteAppearances(QString root = {});

    void stop() override {}
    QCoro::Task<> warmFromDisk(QList<SitePtr>) override { co_return; }
    void refresh(const SitePtr&, std::optional<QUrl>, bool) override {}
    void refreshAll(const QList<QPair<SitePtr, std::optional<QUrl>>>&, bool) override {}
    void setPrioritySite(std::optional<QUuid>) override {}
    void invalidate(const QUuid& site) override;

private:
    QString m_root;
};

} // namespace halvik
