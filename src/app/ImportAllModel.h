#pragma once

#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <optional>

namespace halvik {

class AppServices;
class SiteImporter;

// One folder a scan found, with the name of the site the store already has there.
struct DiscoveredSite
{
    QString path;
    std::optional<QString> existingName;

    bool isAlreadyInHalvik() const { return existingName.has_value(); }
    bool operator==(const DiscoveredSite&) const = default;
};

// The "Import All" sheet: scan a parent folder for sites, pick, import them in one go.
class ImportAllModel : public QObject
{
    Q_OBJECT
public:
    ImportAllModel(AppServices& services, SiteImporter& importer, QObject* parent = nullptr);

    QString folderText() const { return m_folderText; }
    void setFolderText(const QString& text);
    const QList<DiscoveredSite>& candidates() const { return m_candidates; }
    QString errorText() const { return m_errorText; }
    bool isImporting() const { return m_importing; }
    bool isSelected(const QString& path) const { return m_selected.contains(path); }
    // Sites already in Halvik cannot be selected.
    void setSelected(const QString& path, bool selected);

    QList<DiscoveredSite> newSites() const;
    QList<DiscoveredSite> selectedSites() const;
    QString scanSummary() const;
    QString importTitle() const;

    QCoro::Task<> rescan();
    // Imports the selection in list order; a failing site stops the run, earlier ones stay.
    // What was imported becomes the selected site, or the list's multi-selection.
    QCoro::Task<> importAll();

Q_SIGNALS:
    void changed();

private:
    void clearCandidates(const QString& error);

    AppServices& m_services;
    SiteImporter& m_importer;
    QString m_folderText;
    QList<DiscoveredSite> m_candidates;
    QSet<QString> m_selected;
    QString m_errorText;
    bool m_importing = false;
    int m_scanGeneration = 0;
    LifeGuard m_life;
};

} // namespace halvik
