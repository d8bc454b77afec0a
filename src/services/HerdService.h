#pragma once

#include "HerdRoots.h"
#include "LocalDevEngine.h"
#include "ProcessRunner.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QUrl>

#include <optional>

namespace halvik {

class Site;

// Finds Herd or Valet, reads their configuration and drives their command-line tool. Main
// thread; commands run through the process runner and are awaited.
class HerdService : public QObject
{
    Q_OBJECT
public:
    explicit HerdService(HerdRoots roots = HerdRoots::system(), QObject* parent = nullptr);

    // Re-detects the engine and its paths. Never fails: unreadable files count as absent.
    void refresh();

    std::optional<LocalDevEngine> engine() const { return m_engine; }
    bool isInstalled() const { return m_isInstalled; }
    std::optional<QString> appPath() const { return m_appPath; }
    std::optional<QString> supportPath() const { return m_supportPath; }
    std::optional<QString> parkedPath() const { return m_parkedPath; }
    QStringList parkedDirectories() const { return m_parkedDirectories; }
    std::optional<QString> cliPath() const { return m_cliPath; }
    std::optional<QString> composerPath() const { return m_composerPath; }
    QList<HerdPHP> phpBinaries() const { return m_phpBinaries; }
    std::optional<QString> globalPHPPath() const { return m_globalPHPPath; }
    std::optional<QString> globalPHPVersion() const { return m_globalPHPVersion; }
    void setGlobalPHPVersion(std::optional<QString> version);
    QHash<QString, QString> pendingIsolate() const { return m_pendingIsolate; }
    std::optional<QString> valetConfigPath() const { return m_valetConfigPath; }
    std::optional<QString> valetCLIPath() const { return m_valetCLIPath; }
    const HerdRoots& roots() const { return m_roots; }

    // The engine's configuration folder: links, certificates, nginx files, config.json.
    QString configFolder() const;
    QString tld() const;
    QString domain(const QString& name) const;
    QString domain(const Site& site) const;
    std::optional<QString> linkedName(const QString& path) const;
    bool isSecured(const QString& name) const;
    bool isParked(const QString& path) const;
    std::optional<QUrl> siteURL(const Site& site, std::optional<bool> secure = std::nullopt) const;
    // The same, with the site's APP_URL already read (envAppURL).
    std::optional<QUrl> siteURL(const Site& site, const std::optional<QUrl>& envURL,
                                std::optional<bool> secure) const;
    // APP_URL of <folder>/.env when it has both a scheme and a host.
    static std::optional<QUrl> envAppURL(const QString& folder);

    // Throw HerdError or the runner's errors.
    QCoro::Task<> link(QString sitePath, QString name);
    QCoro::Task<> secure(QString name, QString sitePath);
    QCoro::Task<> isolate(QString sitePath, QString version);
    // What `isolate` passes to the tool for a version: php@8.3 under Valet, 8.3 under Herd.
    QString isolateArgument(const QString& version) const;

    // PHP_VERSION of an executable, or nothing when it cannot be run.
    QCoro::Task<std::optional<QString>> phpVersion(QString path);

    std::optional<ResolvedPHP> phpForSite(const Site& site) const;
    std::optional<ResolvedPHP> phpForSite(const QString& name) const;

    QStringList nginxErrorTail(int lines) const;

    static QString slug(const QString& name);

Q_SIGNALS:
    void changed();

private:
    void clearEngine();
    bool detectHerd();
    bool detectValet();
    QStringList valetCandidates() const;
    QStringList commandPath() const;
    QCoro::Task<> runTool(QString sitePath, QStringList arguments);
    std::optional<QString> isolatedExecutable(const QString& version) const;
    std::optional<ResolvedPHP> resolvePHP(const QString& name, const QString& domain) const;

    HerdRoots m_roots;
    ProcessRunner m_runner;
    std::optional<LocalDevEngine> m_engine;
    bool m_isInstalled = false;
    std::optional<QString> m_appPath;
    std::optional<QString> m_supportPath;
    std::optional<QString> m_parkedPath;
    QStringList m_parkedDirectories;
    std::optional<QString> m_cliPath;
    std::optional<QString> m_composerPath;
    QList<HerdPHP> m_phpBinaries;
    std::optional<QString> m_globalPHPPath;
    std::optional<QString> m_globalPHPVersion;
    QHash<QString, QString> m_pendingIsolate;
    std::optional<QString> m_valetConfigPath;
    std::optional<QString> m_valetCLIPath;
};

} // namespace halvik
