#include "ImportAllModel.h"

#include "AppServices.h"
#include "ImportPaths.h"
#include "SiteImporter.h"

#include "services/QuillmarSiteDiscovery.h"

#include <QFileInfo>

namespace halvik {

ImportAllModel::ImportAllModel(AppServices& services, SiteImporter& importer, QObject* parent)
    : QObject(parent), m_services(services), m_importer(importer)
{
}

void ImportAllModel::setFolderText(const QString& text)
{
    if (text == m_folderText)
        return;
    m_folderText = text;
    Q_EMIT changed();
}

void ImportAllModel::setSelected(const QString& path, bool selected)
{
    const auto it = std::find_if(m_candidates.begin(), m_candidates.end(),
                                 [&](const DiscoveredSite& site) { return site.path == path; });
    if (it == m_candidates.end() || it->isAlreadyInHalvik())
        return;
    const bool was = m_selected.contains(path);
    if (selected == was)
        return;
    if (selected)
        m_selected.insert(path);
    else
        m_selected.remove(path);
    Q_EMIT changed();
}

QList<DiscoveredSite> ImportAllModel::newSites() const
{
    QList<DiscoveredSite> out;
    for (const auto& site : m_candidates)
        if (!site.isAlreadyInHalvik())
            out << site;
    return out;
}

QList<DiscoveredSite> ImportAllModel::selectedSites() const
{
    QList<DiscoveredSite> out;
    for (const auto& site : m_candidates)
        if (m_selected.contains(site.path))
            out << site;
    return out;
}

QString ImportAllModel::scanSummary() const
{
    const qsizetype total = m_candidates.size();
    if (total == 0)
        return QStringLiteral("No Quillmar sites found");
    QString text = QStringLiteral("Found %1 Quillmar %2").arg(total).arg(total == 1 ? "site" : "sites");
    const qsizetype fresh = newSites().size();
    if (fresh < total)
        text += QStringLiteral(" · %1 new · %2 already in Halvik").arg(fresh).arg(total - fresh);
    return text;
}

QString ImportAllModel::importTitle() const
{
    const qsizetype count = selectedSites().size();
    const QString sites = count == 1 ? QStringLiteral("1 Site") : QStringLiteral("%1 Sites").arg(count);
    return m_importing ? QStringLiteral("Importing ") + sites + QStringLiteral("…")
                       : QStringLiteral("Import ") + sites;
}

void ImportAllModel::clearCandidates(const QString& error)
{
    m_candidates.clear();
    m_selected.clear();
    m_errorText = error;
    Q_EMIT changed();
}

QCoro::Task<> ImportAllModel::rescan()
{
    const int generation = ++m_scanGeneration;
    const QString folder = expandTypedPath(m_folderText);
    if (folder.isEmpty()) {
        clearCandidates({});
        co_return;
    }
    if (!QFileInfo(folder).isDir()) {
        clearCandidates(QStringLiteral("That folder doesn’t exist."));
        co_return;
    }
    const LifeToken alive = m_life.token();
    const QStringList found = co_await QuillmarSiteDiscovery::discoverInBackground(folder);
    // A newer scan started while this one ran: its answer wins.
    if (!alive || generation != m_scanGeneration)
        co_return;
    m_candidates.clear();
    m_selected.clear();
    m_errorText.clear();
    for (const QString& path : found) {
        DiscoveredSite site{path, std::nullopt};
        if (const auto existing = m_services.store().siteAtPath(path))
            site.existingName = existing->displayName();
        else
            m_selected.insert(path);
        m_candidates << site;
    }
    Q_EMIT changed();
}

QCoro::Task<> ImportAllModel::importAll()
{
    if (m_importing)
        co_return;
    m_importing = true;
    Q_EMIT changed();
    const LifeToken alive = m_life.token();
    AppServices& services = m_services;
    SiteImporter& importer = m_importer;
    QList<QUuid> imported;
    try {
        for (const DiscoveredSite& candidate : selectedSites()) {
            if (services.store().siteAtPath(candidate.path))
                continue;
            const SitePtr site = co_await importer.importExistingSite(candidate.path);
            imported << site->id();
            if (!alive)
                break;
        }
    } catch (const std::exception& error) {
        if (alive)
            m_errorText = QString::fromUtf8(error.what());
    }
    // The selection is the application's; it follows even when the sheet has gone.
    if (imported.size() == 1)
        services.setSelectedSiteID(imported.first());
    else if (imported.size() > 1)
        services.setSelectedSiteIDs(QSet<QUuid>(imported.begin(), imported.end()));
    if (!alive)
        co_return;
    m_importing = false;
    Q_EMIT changed();
}

} // namespace halvik
