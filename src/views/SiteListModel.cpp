#include "SiteListModel.h"

namespace halvik::views {

SiteListModel::SiteListModel(SiteStore& store, QObject* parent) : QAbstractListModel(parent), m_store(store)
{
    connect(&m_store, &SiteStore::sitesChanged, this, &SiteListModel::rebuild);
    rebuild();
}

void SiteListModel::rebuild()
{
    beginResetModel();
    for (const auto& c : m_siteConnections)
        disconnect(c);
    m_siteConnections.clear();
    m_sites = m_store.sites();
    for (int row = 0; row < m_sites.size(); ++row) {
        const auto& site = m_sites.at(row);
        // A renamed site redraws its row; the row is found again in case the list moved.
        m_siteConnections << connect(site.get(), &Site::changed, this, [this, id = site->id()] {
            const int r = rowOf(id);
            if (r >= 0)
                Q_EMIT dataChanged(index(r), index(r));
        });
    }
    endResetModel();
}

int SiteListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_sites.size());
}

QVariant SiteListModel::data(const QModelIndex& index, int role) const
{
    const SitePtr site = siteAt(index.row());
    if (!site)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return site->displayName();
    case Qt::ToolTipRole:
    case PathRole:
        return site->path();
    case SiteIdRole:
        return site->id();
    default:
        return {};
    }
}

SitePtr SiteListModel::siteAt(int row) const
{
    return row >= 0 && row < m_sites.size() ? m_sites.at(row) : nullptr;
}

int SiteListModel::rowOf(const QUuid& id) const
{
    for (int row = 0; row < m_sites.size(); ++row)
        if (m_sites.at(row)->id() == id)
            return row;
    return -1;
}

} // namespace halvik::views
