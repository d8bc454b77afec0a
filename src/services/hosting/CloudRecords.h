#pragma once

#include "async/HalvikError.h"

#include <QList>
#include <QString>

#include <optional>

namespace halvik {

struct CloudRegion
{
    QString code;
    QString label;
    QString flag;

    bool operator==(const CloudRegion&) const = default;
};

struct CloudApplication
{
    QString id;
    QString name;
    QString region;
    QString environmentID;
    QString vanityURL;
    std::optional<QString> deploymentID;

    bool operator==(const CloudApplication&) const = default;
};

struct CloudEnvironmentVariable
{
    QString key;
    QString value;

    bool operator==(const CloudEnvironmentVariable&) const = default;
};

struct CloudEnvironment
{
    QString id;
    QString name;
    QString vanityDomain;
    QString status;
    std::optional<QString> buildCommand;
    std::optional<QString> deployCommand;
    std::optional<QString> databaseSchemaID;
    QList<CloudEnvironmentVariable> environmentVariables;

    // The vanity domain as an https address, unless it already names its scheme.
    QString vanityURL() const;
    std::optional<QString> variable(const QString& key) const;

    bool operator==(const CloudEnvironment&) const = default;
};

struct CloudDeployment
{
    QString id;
    QString status = QStringLiteral("unknown");
    std::optional<QString> failureReason;
    std::optional<QString> log;

    bool operator==(const CloudDeployment&) const = default;
};

struct CloudDatabaseConnection
{
    QString hostname;
    int port = 0;
    QString username;
    QString password;
    QString database;

    bool canImport() const { return !hostname.isEmpty() && !username.isEmpty() && !password.isEmpty(); }

    bool operator==(const CloudDatabaseConnection&) const = default;
};

struct CloudDatabaseCluster
{
    QString id;
    QString name;
    QString type;
    QString region;
    QString status;
    QString schemaID;
    QString schemaName;
    std::optional<CloudDatabaseConnection> connection;

    // A copy whose connection keeps `password` when the API left it out (later reads do).
    CloudDatabaseCluster preservingPassword(const QString& password) const;

    bool operator==(const CloudDatabaseCluster&) const = default;
};

struct CloudDatabaseSetup
{
    CloudDatabaseCluster cluster;
    bool didAttach = false;
};

// One organization's token from a browser sign-in.
struct CloudSignIn
{
    QString organization;
    QString token;
};

class LaravelCloudClientError : public HalvikError
{
public:
    enum class Case
    {
        failed,
        missing,
        unauthorized
    };

    static LaravelCloudClientError failed(int status, const QString& message)
    {
        return {Case::failed, QStringLiteral("Laravel Cloud error %1: %2").arg(status).arg(message), status};
    }
    // A failure whose whole sentence is given, without the "Laravel Cloud error" prefix.
    static LaravelCloudClientError refused(int status, const QString& sentence)
    {
        return {Case::failed, sentence, status};
    }
    static LaravelCloudClientError missing(const QString& what)
    {
        return {Case::missing, QStringLiteral("Laravel Cloud response missing %1.").arg(what), 0};
    }
    static LaravelCloudClientError unauthorized()
    {
        return {Case::unauthorized, QStringLiteral("Laravel Cloud rejected the API token."), 401};
    }

    Case kind() const { return m_case; }
    int status() const { return m_status; }
    bool isUnauthorized() const { return m_case == Case::unauthorized; }

private:
    LaravelCloudClientError(Case kind, QString text, int status)
        : HalvikError(std::move(text)), m_case(kind), m_status(status)
    {
    }
    Case m_case;
    int m_status;
};

} // namespace halvik
