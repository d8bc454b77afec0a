#pragma once

#include "ComposerFolderGate.h"
#include "ComposerRecords.h"
#include "ComposerServiceError.h"

#include "async/Cancellation.h"
#include "async/LifeGuard.h"
#include "models/Enums.h"
#include "models/Site.h"
#include "services/ProcessRunner.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QUuid>

#include <functional>
#include <optional>

namespace halvik {

class HerdService;
class RuntimeManager;

// Runs Composer, the site's PHP scripts and free shell commands in a site's folder with the
// PHP, Composer, PATH and environment the runtime manager gives, records each logged run as an
// operation of the site, and reads what the site has installed. Main thread.
class ComposerService : public QObject
{
    Q_OBJECT
public:
    using Environment = QMap<QString, QString>;
    // Receives every line on the runner's thread; it must not block.
    using OutputCallback = ProcessRunner::OutputCallback;

    static constexpr int minimumPasswordLength = 8;

    ComposerService(ProcessRunner& runner, RuntimeManager& runtime, const HerdService* herd,
                    QObject* parent = nullptr);
    ~ComposerService() override;

    // Called after every logged run so the site's operation history is persisted.
    void setSaveHandler(std::function<void()> save) { m_save = std::move(save); }
    // Tests point the free-command shell elsewhere; by default zsh, else bash.
    void setShellCandidates(QStringList shells) { m_shells = std::move(shells); }

    std::optional<QUuid> activeOperationID() const { return m_activeOperationID; }

    // --- Composer ----------------------------------------------------------------------------
    // A logged run, once no other Composer runs in the same folder. Throws RuntimeError::phpMissing /
    // composerMissing, ComposerServiceError::failed on a non-zero exit, and the runner's errors (cancelled,
    // failed to start).
    QCoro::Task<ProcessResult> run(SitePtr site, QStringList composerArgs,
                                   OperationKind kind = OperationKind::composer,
                                   std::optional<QString> workingDirectory = std::nullopt,
                                   OutputCallback onOutput = {}, CancellationToken token = {});
    // The same process, unrecorded, for queries; the caller judges the exit code.
    QCoro::Task<ProcessResult> runDetached(SitePtr site, QStringList composerArgs,
                                           CancellationToken token = {});
    // `composer require <package>[:<constraint>]`; returns "Installed <package>".
    QCoro::Task<QString> requirePackage(SitePtr site, QString package, QString constraint = {},
                                        OutputCallback onOutput = {}, CancellationToken token = {});

    // --- PHP -----------------------------------------------------------------------------------
    QCoro::Task<ProcessResult> runPHP(SitePtr site, QString script, QStringList arguments,
                                      OperationKind kind = OperationKind::artisan,
                                      Environment environment = {}, OutputCallback onOutput = {},
                                      CancellationToken token = {});
    QCoro::Task<ProcessResult> runPHPDetached(SitePtr site, QString script, QStringList arguments,
                                              CancellationToken token = {});
    // The CMS console: `php keffin …`, or `php artisan quillmar:…` in a site without keffin.
    QCoro::Task<ProcessResult> keffin(SitePtr site, QStringList arguments, Environment environment = {},
                                      OutputCallback onOutput = {}, CancellationToken token = {});
    static bool hasKeffin(const Site& site);
    // A CMS site: it has the CMS console or its composer.json requires the CMS.
    static bool usesCMS(const Site& site);
    // Why nothing can run `artisan` in the site (a Composer project that is not a Laravel
    // application), or nothing when it can.
    static std::optional<QString> artisanUnavailable(const Site& site);
    // A free command typed by a person, through a login shell, with Halvik's PATH first even
    // when the shell's profile sets its own.
    QCoro::Task<ProcessResult> runShell(SitePtr site, QString command, OutputCallback onOutput = {},
                                        CancellationToken token = {});

    // Makes a CMS user with `make:user`. The password reaches the command through the
    // environment, never as a process argument, and never the operation's command line or log.
    // Throws failed("Password must be at least 8 characters.").
    QCoro::Task<> createUser(SitePtr site, QString email, QString password, bool superUser,
                             OutputCallback onOutput = {});

    // --- Reads ---------------------------------------------------------------------------------
    // Outdated direct dependencies, cached per site folder until `force`.
    QCoro::Task<QList<OutdatedPackage>> outdated(SitePtr site, bool force = false,
                                                 CancellationToken token = {});
    std::optional<QList<OutdatedPackage>> cachedOutdated(const Site& site) const;
    static SiteManifest readManifest(const Site& site);
    // Both consoles' commands, cached per site folder until `force`.
    QCoro::Task<QList<ConsoleCommand>> listConsoleCommands(SitePtr site, bool force = false);

Q_SIGNALS:
    void activeOperationChanged();
    // The outdated list of the site at `path` was refreshed.
    void outdatedChanged(const QString& path);

private:
    struct Launch
    {
        ProcessRequest request;
        QString command; // as recorded
    };
    Launch composerRequest(const Site& site, const QStringList& composerArgs,
                           const std::optional<QString>& workingDirectory) const;
    Launch phpRequest(const Site& site, const QString& script, const QStringList& arguments,
                      const Environment& environment) const;
    Environment processEnvironment(const QString& php) const;
    QCoro::Task<ProcessResult> logged(SitePtr site, Launch launch, OperationKind kind,
                                      OutputCallback onOutput, CancellationToken token, QStringList secrets,
                                      QString noOutputFailure);
    // Runs `body` (which starts `launch`) once no other Composer runs in its folder.
    QCoro::Task<ProcessResult> oneInFolder(Launch& launch, CancellationToken token,
                                           std::function<QCoro::Task<ProcessResult>()> body);
    void setActive(const SiteOperationPtr& operation);

    ProcessRunner& m_runner;
    RuntimeManager& m_runtime;
    const HerdService* m_herd;
    std::function<void()> m_save;
    QStringList m_shells{QStringLiteral("/bin/zsh"), QStringLiteral("/bin/bash")};
    std::optional<QUuid> m_activeOperationID;
    QHash<QString, QList<OutdatedPackage>> m_outdated;
    QHash<QString, QList<ConsoleCommand>> m_commands;
    ComposerFolderGate m_gate;
    LifeGuard m_life;
};

} // namespace halvik
