#pragma once

#include "Enums.h"

#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QSettings>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace halvik {

enum class ListSortOrder
{
    name,
    newest,
    oldest
};
enum class AppearancePreference
{
    system,
    light,
    dark
};

constexpr auto enumCases(std::type_identity<ListSortOrder>)
{
    return std::to_array<EnumCase<ListSortOrder>>({{ListSortOrder::name, "name"},
                                                   {ListSortOrder::newest, "newest"},
                                                   {ListSortOrder::oldest, "oldest"}});
}

constexpr auto enumCases(std::type_identity<AppearancePreference>)
{
    return std::to_array<EnumCase<AppearancePreference>>({{AppearancePreference::system, "system"},
                                                          {AppearancePreference::light, "light"},
                                                          {AppearancePreference::dark, "dark"}});
}

// What the editor chooser shows.
struct EditorPanel
{
    QString startIn;
    QString prompt;
    QString message;
};

// The user's settings, one `prefs.*` key each, written back on every change. Also owns the
// external editor and the application-wide appearance. Main thread.
class AppPreferences : public QObject
{
    Q_OBJECT
public:
    // Asks for an editor; resolves to its path, or nothing when the person cancels.
    using EditorChooser = std::function<QCoro::Task<std::optional<QString>>(EditorPanel)>;
    // Starts `editor` on `folder`; returns whether it started.
    using EditorLauncher = std::function<bool(const QString& editor, const QString& folder)>;
    using AppearanceApplier = std::function<void(AppearancePreference)>;
    // The name people know an editor by, from its path.
    using EditorNamer = std::function<QString(const QString& editor)>;
    // The serving engine's parked folder, when an engine is installed and parks one.
    using ParkedFolderSource = std::function<std::optional<QString>()>;

    // Without settings, the application's own user-scope store.
    explicit AppPreferences(std::unique_ptr<QSettings> settings = nullptr, QObject* parent = nullptr);
    ~AppPreferences() override;

    QString defaultSitesDirectoryPath() const { return m_defaultSitesDirectoryPath; }
    void setDefaultSitesDirectoryPath(const QString& path);
    bool preferHerd() const { return m_preferHerd; }
    void setPreferHerd(bool value);
    bool secureNewSites() const { return m_secureNewSites; }
    void setSecureNewSites(bool value);
    QString defaultPHPSourceRaw() const { return m_defaultPHPSourceRaw; }
    void setDefaultPHPSourceRaw(const QString& raw);
    QString sitesSortRaw() const { return m_sitesSortRaw; }
    ListSortOrder sitesSort() const;
    void setSitesSort(ListSortOrder order);
    QString hostsSortRaw() const { return m_hostsSortRaw; }
    ListSortOrder hostsSort() const;
    void setHostsSort(ListSortOrder order);
    QString appearanceRaw() const { return m_appearanceRaw; }
    AppearancePreference appearance() const;
    void setAppearanceRaw(const QString& raw);
    void setAppearance(AppearancePreference appearance) { setAppearanceRaw(toRaw(appearance)); }
    QString defaultEditorPath() const { return m_defaultEditorPath; }
    void setDefaultEditorPath(const QString& path);
    // Whether the window looks for a new release at start-up, once a week at most.
    bool checkForUpdatesWeekly() const { return m_checkForUpdatesWeekly; }
    void setCheckForUpdatesWeekly(bool value);
    // When the release feed was last asked successfully; invalid when never.
    QDateTime lastUpdateCheck() const;
    void setLastUpdateCheck(const QDateTime& when);
    double gitSplitMasterWidth() const { return m_gitSplitMasterWidth; }
    void setGitSplitMasterWidth(double width);

    // What the window keeps between starts (geometry, splitter widths, the section and tab
    // shown), in the same file under window/<key>; not preferences, so no changed() signal.
    QVariant windowState(const QString& key) const;
    void setWindowState(const QString& key, const QVariant& value);

    bool canApplyAppearance() const { return m_canApplyAppearance; }
    void setAppearanceApplier(AppearanceApplier applier) { m_applier = std::move(applier); }
    void applyAppearance();

    // The folder new sites go to: the chosen one, the engine's parked folder, or ~/Quillmar Sites.
    QString resolvedSitesDirectory() const;
    void setParkedFolderSource(ParkedFolderSource source) { m_parkedFolder = std::move(source); }
    PHPSource phpSource(bool forHerdParking, bool herdInstalled) const;

    std::optional<QUrl> defaultEditorURL() const;
    // The editor's name as the namer gives it (its file name without one); "None" without an editor.
    QString defaultEditorName() const;
    void setEditorChooser(EditorChooser chooser) { m_chooser = std::move(chooser); }
    void setEditorLauncher(EditorLauncher launcher) { m_launcher = std::move(launcher); }
    void setEditorNamer(EditorNamer namer) { m_namer = std::move(namer); }
    // Asks for an editor and keeps it; false when cancelled or nobody can ask.
    QCoro::Task<bool> chooseEditor();
    // Opens a site folder in the editor, asking for one first when none is set.
    QCoro::Task<> openInEditor(QString folder);

    static EditorPanel editorPanel();

Q_SIGNALS:
    void changed();
    void appearanceChanged();

private:
    template <typename T> void store(T& field, const T& value, const char* key);

    std::unique_ptr<QSettings> m_settings;
    QString m_defaultSitesDirectoryPath;
    bool m_preferHerd = true;
    bool m_secureNewSites = false;
    QString m_defaultPHPSourceRaw;
    QString m_sitesSortRaw;
    QString m_hostsSortRaw;
    QString m_appearanceRaw;
    QString m_defaultEditorPath;
    double m_gitSplitMasterWidth = 320;
    bool m_checkForUpdatesWeekly = false;
    bool m_canApplyAppearance = false;
    AppearanceApplier m_applier;
    EditorChooser m_chooser;
    EditorLauncher m_launcher;
    EditorNamer m_namer;
    ParkedFolderSource m_parkedFolder;
    LifeGuard m_life;
};

} // namespace halvik
