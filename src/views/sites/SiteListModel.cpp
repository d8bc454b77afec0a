#include "views/sites/SiteListModel.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>

namespace halvik::views {

namespace {

// A small filled circle, drawn once per colour.
QPixmap dot(const QColor& colour)
{
    static QHash<QRgb, QPixmap> cache;
    auto it = cache.find(colour.rgba());
    if (it == cache.end()) {
        QPixmap pixmap(12, 12);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(QRectF(2, 2, 8, 8));
        it = cache.insert(colour.rgba(), pixmap);
    }
    return *it;
}

} // namespace

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
    case Qt::ToolTipRole: {
        const auto status = m_status ? m_status(site->id()) : std::nullopt;
        return status ? site->path() + QLatin1Char('\n') + status->summary : site->path();
    }
    case Qt::DecorationRole: {
        const auto status = m_status ? m_status(site->id()) : std::nullopt;
        return status ? QVariant(dot(status->colour)) : QVariant();
    }
    case SubtitleRole: {
        const auto status = m_status ? m_status(site->id()) : std::nullopt;
        return status && !status->subtitle.isEmpty() ? status->subtitle : site->path();
    }
    case JobTextRole: {
        const auto job = jobState(site->id());
        return job ? job->text : QString();
    }
    case JobFailedRole: {
        const auto job = jobState(site->id());
        return job && job->failed;
    }
    case IconRole:
        return m_icons ? m_icons(site->id()) : QImage();
    case StatusColourRole: {
        const auto status = m_status ? m_status(site->id()) : std::nullopt;
        return status ? QVariant(status->colour) : QVariant();
    }
    case PathRole:
        return site->path();
    case CreatedAtRole:
        return site->createdAt();
    case SiteIdRole:
        return site->id();
    default:
        return {};
    }
}

void SiteListModel::setStatusSource(StatusSource source)
{
    m_status = std::move(source);
    statusChanged();
}

void SiteListModel::statusChanged()
{
    if (!m_sites.isEmpty())
        Q_EMIT dataChanged(index(0), index(int(m_sites.size()) - 1),
                           {Qt::DecorationRole, Qt::ToolTipRole, SubtitleRole, StatusColourRole});
}

void SiteListModel::iconChanged(const QUuid& id)
{
    if (m_sites.isEmpty())
        return;
    if (id.isNull()) {
        Q_EMIT dataChanged(index(0), index(int(m_sites.size()) - 1), {IconRole});
        return;
    }
    const int row = rowOf(id);
    if (row >= 0)
        Q_EMIT dataChanged(index(row), index(row), {IconRole});
}

void SiteListModel::addJobSource(JobSource source)
{
    m_jobs << std::move(source);
    jobsChanged();
}

void SiteListModel::jobsChanged()
{
    if (!m_sites.isEmpty())
        Q_EMIT dataChanged(index(0), index(int(m_sites.size()) - 1), {JobTextRole, JobFailedRole});
}

std::optional<SiteListModel::JobState> SiteListModel::jobState(const QUuid& id) const
{
    for (const JobSource& source : m_jobs)
        if (auto job = source(id))
            return job;
    return std::nullopt;
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
