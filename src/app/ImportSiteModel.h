#pragma once

#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QObject>

#include <optional>

namespace halvik {

class AppServices;
class GitService;
class SiteImporter;

// The "Import Existing Site" sheet: one folder, a display name, a notice when the folder is
// already registered and a hint at its Git branch.
class ImportSiteModel : public QObject
{
    Q_OBJECT
public:
    ImportSiteModel(AppServices& services, SiteImporter& importer, GitService& git,
                    QObject* parent = nullptr);

    QString displayName() const { return m_displayName; }
    void setDisplayName(const QString& name);
    QString projectPath() const { return m_projectPath; }
    std::optional<QString> existingSiteNotice() const { return m_existingNotice; }
    std::optional<QString> gitHint() const { return m_gitHint; }
    QString errorText() const { return m_errorText; }
    bool isImporting() const { return m_importing; }

    // Asks for a folder and applies it.
    QCoro::Task<> pick();
    // A new path, typed or chosen: refreshes the notice and the Git hint.
    void applyPath(const QString& path);
    void refreshExistingSiteNotice(const QString& path);
    QCoro::Task<> refreshGitHint();
    // True when the sheet may close: the site was imported, or it was already registered and
    // is now selected.
    QCoro::Task<bool> importSite();

Q_SIGNALS:
    void changed();

private:
    QString expandedPath() const;

    AppServices& m_services;
    SiteImporter& m_importer;
    GitService& m_git;
    QString m_displayName;
    QString m_projectPath;
    std::optional<QString> m_existingNotice;
    std::optional<QString> m_gitHint;
    QString m_errorText;
    bool m_importing = false;
    bool m_nameChosen = false;
    int m_hintGeneration = 0;
    LifeGuard m_life;
};

} // namespace halvik
