#pragma once

#include <QString>
#include <QTemporaryDir>

namespace halvik::test {

// A PostgreSQL 15 server of the test's own, in a temporary folder on a free 127.0.0.1 port,
// with one database owned by a user with a password. Run as the `postgres` user (through
// runuser) when the tests run as root. Stopped by its process id when destroyed.
class PostgresServer
{
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Why it could not start; empty when it runs.
    QString start();
    int port() const { return m_port; }
    static QString database() { return QStringLiteral("content"); }
    static QString user() { return QStringLiteral("halvik"); }
    static QString password() { return QStringLiteral("pg-pass-canary-71c4"); }

    // Runs SQL as the superuser against the database; returns psql's unaligned output.
    QString sql(const QString& statement) const;
    // Drops and recreates the database, empty.
    void recreate() const;

private:
    QString run(const QStringList& command, bool asServer) const;

    QTemporaryDir m_dir;
    int m_port = 0;
    qint64 m_pid = 0;
};

} // namespace halvik::test
