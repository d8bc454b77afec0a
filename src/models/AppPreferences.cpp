#include "AppPreferences.h"

#include <QDir>
#include <QFileInfo>

namespace halvik {

namespace {

constexpr auto kSitesDirectory = "prefs.defaultSitesDirectory";
constexpr auto kPreferHerd = "prefs.preferHerd";
constexpr auto kSecureNewSites = "prefs.secureNewSites";
constexpr auto kPHPSource = "prefs.defaultPHPSource";
constexpr auto kSitesSort = "prefs.sitesSort";
constexpr auto kHostsSort = "prefs.hostsSort";
constexpr auto kAppearance = "prefs.appearance";
constexpr auto kEditor = "prefs.defaultEditor";
constexpr auto kGitSplitWidth = "prefs.gitSplitMasterWidth";
constexpr auto kWeeklyUpdateCheck = "prefs.checkForUpdatesWeekly";
constexpr auto kLastUpdateCheck = "updates/lastCheck";

// Anything narrower is unusable for the Git list pane, so it is read as the default.
constexpr double kMinimumSplitWidth = 240;
constexpr double kDefaultSplitWidth = 320;

} // namespace

AppPreferences::AppPreferences(std::unique_ptr<QSettings> settings, QObject* parent)
    : QObject(parent), m_settings(std::move(settings))
{
    if (!m_settings)
        m_settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                 QStringLiteral("Halvik"), QStringLiteral("Halvik"));
    QSettings& s = *m_settings;
    m_defaultSitesDirectoryPath = s.value(kSitesDirectory, QString()).toString();
    m_preferHerd = s.value(kPreferHerd, true).toBool();
    m_secureNewSites = s.value(kSecureNewSites, false).toBool();
    m_defaultPHPSourceRaw = s.value(kPHPSource, QStringLiteral("automatic")).toString();
    m_sitesSortRaw = s.value(kSitesSort, QStringLiteral("newest")).toString();
    m_hostsSortRaw = s.value(kHostsSort, QStringLiteral("name")).toString();
    m_appearanceRaw = s.value(kAppearance, QStringLiteral("system")).toString();
    m_defaultEditorPath = s.value(kEditor, QString()).toString();
    // Off unless asked for: a desktop application never reaches the network unasked.
    m_checkForUpdatesWeekly = s.value(kWeeklyUpdateCheck, false).toBool();
    bool ok = false;
    const double width = s.value(kGitSplitWidth, kDefaultSplitWidth).toDouble(&ok);
    m_gitSplitMasterWidth = ok && width >= kMinimumSplitWidth ? width : kDefaultSplitWidth;
    m_canApplyAppearance = true;
}

AppPreferences::~AppPreferences() = default;

QVariant AppPreferences::windowState(const QString& key) const
{
    return m_settings->value(QStringLiteral("window/") + key);
}

void AppPreferences::setWindowState(const QString& key, const QVariant& value)
{
    m_settings->setValue(QStringLiteral("window/") + key, value);
}

template <typename T> void AppPreferences::store(T& field, const T& value, const char* key)
{
    if (field == value)
        return;
    field = value;
    m_settings->setValue(key, value);
    Q_EMIT changed();
}

void AppPreferences::setCheckForUpdatesWeekly(bool value)
{
    store(m_checkForUpdatesWeekly, value, kWeeklyUpdateCheck);
}

QDateTime AppPreferences::lastUpdateCheck() const
{
    return m_settings->value(kLastUpdateCheck).toDateTime();
}

void AppPreferences::setLastUpdateCheck(const QDateTime& when)
{
    m_settings->setValue(kLastUpdateCheck, when);
}

void AppPreferences::setDefaultSitesDirectoryPath(const QString& path)
{
    store(m_defaultSitesDirectoryPath, path, kSitesDirectory);
}
void AppPreferences::setPreferHerd(bool value)
{
    store(m_preferHerd, value, kPreferHerd);
}
void AppPreferences::setSecureNewSites(bool value)
{
    store(m_secureNewSites, value, kSecureNewSites);
}
void AppPreferences::setDefaultPHPSourceRaw(const QString& raw)
{
    store(m_defaultPHPSourceRaw, raw, kPHPSource);
}
void AppPreferences::setDefaultEditorPath(const QString& path)
{
    store(m_defaultEditorPath, path, kEditor);
}
void AppPreferences::setGitSplitMasterWidth(double width)
{
    store(m_gitSplitMasterWidth, width, kGitSplitWidth);
}

ListSortOrder AppPreferences::sitesSort() const
{
    return fromRaw<ListSortOrder>(m_sitesSortRaw).value_or(ListSortOrder::newest);
}
ListSortOrder AppPreferences::hostsSort() const
{
    return fromRaw<ListSortOrder>(m_hostsSortRaw).value_or(ListSortOrder::name);
}
void AppPreferences::setSitesSort(ListSortOrder order)
{
    store(m_sitesSortRaw, toRaw(order), kSitesSort);
}
void AppPreferences::setHostsSort(ListSortOrder order)
{
    store(m_hostsSortRaw, toRaw(order), kHostsSort);
}

AppearancePreference AppPreferences::appearance() const
{
    return fromRaw<AppearancePreference>(m_appearanceRaw).value_or(AppearancePreference::system);
}

void AppPreferences::setAppearanceRaw(const QString& raw)
{
    if (raw == m_appearanceRaw)
        return;
    store(m_appearanceRaw, raw, kAppearance);
    if (m_canApplyAppearance)
        applyAppearance();
    Q_EMIT appearanceChanged();
}

void AppPreferences::applyAppearance()
{
    if (m_applier)
        m_applier(appearance());
}

QString AppPreferences::resolvedSitesDirectory() const
{
    const QString chosen = m_defaultSitesDirectoryPath.trimmed();
    if (!chosen.isEmpty())
        return chosen;
    if (const auto parked = m_parkedFolder ? m_parkedFolder() : std::nullopt)
        return *parked;
    return QDir::homePath() + QStringLiteral("/Quillmar Sites");
}

PHPSource AppPreferences::phpSource(bool forHerdParking, bool herdInstalled) const
{
    if (forHerdParking && herdInstalled)
        return PHPSource::herd;
    if (m_defaultPHPSourceRaw == toRaw(PHPSource::managed))
        return PHPSource::managed;
    // A stored `herd` without Herd, and anything unknown, fall back to automatic; a stored
    // `herd` with Herd installed is kept.
    if (m_defaultPHPSourceRaw == toRaw(PHPSource::herd) && herdInstalled)
        return PHPSource::herd;
    return PHPSource::automatic;
}

std::optional<QUrl> AppPreferences::defaultEditorURL() const
{
    const QString path = m_defaultEditorPath.trimmed();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return std::nullopt;
    return QUrl::fromLocalFile(path);
}

QString AppPreferences::defaultEditorName() const
{
    const auto url = defaultEditorURL();
    if (!url)
        return QStringLiteral("None");
    const QString path = url->toLocalFile();
    return m_namer ? m_namer(path) : QFileInfo(path).fileName();
}

EditorPanel AppPreferences::editorPanel()
{
#ifdef Q_OS_MACOS
    const QString startIn = QStringLiteral("/Applications");
#else
    const QString startIn = QStringLiteral("/usr/share/applications");
#endif
    return {startIn, QStringLiteral("Choose"),
            QStringLiteral("Choose the editor Halvik should open site folders with.")};
}

QCoro::Task<bool> AppPreferences::chooseEditor()
{
    if (!m_chooser)
        co_return false;
    const LifeToken alive = m_life.token();
    const EditorChooser chooser = m_chooser;
    const EditorPanel panel = editorPanel();
    const std::optional<QString> chosen = co_await chooser(panel);
    if (!alive || !chosen)
        co_return false;
    setDefaultEditorPath(*chosen);
    co_return true;
}

QCoro::Task<> AppPreferences::openInEditor(QString folder)
{
    const LifeToken alive = m_life.token();
    if (!defaultEditorURL()) {
        const bool chosen = co_await chooseEditor();
        if (!alive || !chosen)
            co_return;
    }
    if (const auto editor = defaultEditorURL(); editor && m_launcher)
        m_launcher(editor->toLocalFile(), folder); // failures are not reported
}

} // namespace halvik
