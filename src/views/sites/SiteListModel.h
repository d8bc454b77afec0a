#pragma once

#include "models/SiteStore.h"

#include <QAbstractListModel>
#include <QColor>
#include <QImage>

#include <functional>
#include <optional>

namespace halvik::views {

// The store's sites, in store order (newest first), for list views.
class SiteListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Roles
    {
        SiteIdRole = Qt::UserRole + 1,
        PathRole,
        CreatedAtRole,
        SubtitleRole,    // the URL or how the site is served, else its folder
        JobTextRole,     // a job running or failed on the site ("Update failed"), else nothing
        JobFailedRole,   // whether that job failed
        IconRole,        // the site's icon (QImage), null when it has none
        StatusColourRole // the colour of the site's status dot, when it has a status
    };

    // How a site is doing right now: a line for the tooltip and a colour for its dot.
    struct Status
    {
        QString summary;
        QColor colour;
        QString subtitle;
    };
    using StatusSource = std::function<std::optional<Status>(const QUuid&)>;
    using IconSource = std::function<QImage(const QUuid&)>;

    // A long job of a site (an update, an installation, a clone) that its row shows while it
    // runs and after it failed, with its log for "Copy log".
    struct JobState
    {
        QString text;
        bool failed = false;
        QString log;
    };
    using JobSource = std::function<std::optional<JobState>(const QUuid&)>;

    explicit SiteListModel(SiteStore& store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    SitePtr siteAt(int row) const;
    // Rows ask this for their status dot; call statusChanged() when its answers change.
    void setStatusSource(StatusSource source);
    void statusChanged();
    // Rows ask this for their icon; call iconChanged() when one changes (a null id: all).
    void setIconSource(IconSource source) { m_icons = std::move(source); }
    void iconChanged(const QUuid& id);
    // Each kind of job adds its source; the first one with something to say about a site wins.
    // Call jobsChanged() when a job starts or ends.
    void addJobSource(JobSource source);
    void jobsChanged();
    std::optional<JobState> jobState(const QUuid& id) const;
    int rowOf(const QUuid& id) const;

private:
    void rebuild();

    SiteStore& m_store;
    QList<SitePtr> m_sites;
    QList<QMetaObject::Connection> m_siteConnections;
    StatusSource m_status;
    IconSource m_icons;
    QList<JobSource> m_jobs;
};

} // namespace halvik::views
