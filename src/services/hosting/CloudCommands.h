#pragma once

#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

namespace halvik {

// The text rules of a Cloud deploy: the build and deploy commands an environment needs for a
// Quillmar site to build without a database and run with one, cluster and application names,
// log and status wording. Pure functions, no I/O.
class CloudCommands
{
public:
    // "DB_CONNECTION=sqlite … QUEUE_CONNECTION=sync": what Composer runs under in a build.
    static QString composerEnvironmentPrefix();
    static QString sqliteStubLine();

    static QString defaultBuildCommand();
    static QString withSqliteBuildStub(const QString& command);
    static QString withSqliteComposerEnv(const QString& command);
    static QString buildCommandEnablingNpm(const QString& command);
    static QString withMigrateDeployCommand(const std::optional<QString>& command);
    // Puts the database.php certificate rewrite after the SQLite stub line, once.
    static QString withDatabaseSslPatch(const QString& command);
    // The whole build command for an environment whose command is `current`.
    static QString preparedBuildCommand(const std::optional<QString>& current, bool hasPackageJson);

    // The rewrite the build runs, applied to a config/database.php text here: MySQL over TLS
    // without verifying Cloud's server certificate. Unchanged when it already says so.
    static QString patchDatabaseConfig(const QString& text);

    static QString mysqlClusterName(const QString& appName);
    // The site's slug, else its display name, else "quillmar-site"; at most 40 characters.
    static QString defaultApplicationName(const QString& slug, const QString& displayName);
    static bool isValidApplicationName(const QString& name);

    static QString formatLogs(const nlohmann::json& body);
    // The status line for a Cloud deployment status.
    static QString statusLabel(const QString& status);
};

} // namespace halvik
