#pragma once

#include "models/SiteStore.h"

#include <QAbstractListModel>

namespace halvik::views {

// The store's sites, in store order (newest first), for list views.
class SiteListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Roles
    {
        SiteIdRole = Qt::UserRole + 1,
        PathRole
    };

    explicit SiteListModel(SiteStore& store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    SitePtr siteAt(int row) const;
    int rowOf(const QUuid& id) const;

private:
    void rebuild();

    SiteStore& m_store;
    QList<SitePtr> m_sites;
    QList<QMetaObject::Connection> m_siteConnections;
};

} // namespace halvik::views
