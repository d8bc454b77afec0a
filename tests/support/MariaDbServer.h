#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace halvik::test {

// A MariaDB server of the test's own, in a temporary folder on a free 127.0.0.1 port, that
// takes connections only over TLS with a certificate from a certificate authority made with
// openssl for the occasion (caFile(): point SSL_CERT_FILE at it). One database owned by a user
// with a password. Stopped by its process id when destroyed.
class MariaDbServer
{
public:
    MariaDbServer();
    ~MariaDbServer();
    MariaDbServer(const MariaDbServer&) = delete;
    MariaDbServer& operator=(const MariaDbServer&) = delete;

    // Why it could not start; empty when it runs.
    QString start();
    int port() const { return m_port; }
    QString caFile() const { return m_dir.path() + QStringLiteral("/ca.pem"); }
    static QString database() { return QStringLiteral("content"); }
    static QString user() { return QStringLiteral("halvik"); }
    static QString password() { return QStringLiteral("maria-pass-canary-2d8b"); }

    // Runs SQL as root through the socket; returns the tab-separated output.
    QString sql(const QString& statement) const;

private:
    QString runTool(const QString& program, const QStringList& arguments) const;

    QTemporaryDir m_dir;
    QProcess m_server;
    int m_port = 0;
};

} // namespace halvik::test
