#include "MariaDbServer.h"

#include <QFile>
#include <QTcpServer>
#include <QThread>

#include <csignal>
#include <sys/types.h>

namespace halvik::test {

MariaDbServer::MariaDbServer() = default;

MariaDbServer::~MariaDbServer()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(m_server.processId()), SIGTERM);
    if (!m_server.waitForFinished(20000)) {
        ::kill(pid_t(m_server.processId()), SIGKILL);
        m_server.waitForFinished(5000);
    }
}

QString MariaDbServer::runTool(const QString& program, const QStringList& arguments) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_dir.path());
    process.start(program, arguments);
    process.waitForFinished(120000);
    const QString output = QString::fromUtf8(process.readAll());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("FAILED: ") + program + QStringLiteral(": ") + output;
    return output;
}

QString MariaDbServer::start()
{
    if (!QFile::exists(QStringLiteral("/usr/sbin/mariadbd")))
        return QStringLiteral("MariaDB is not installed");
    const QString d = m_dir.path();
    const QString openssl = QStringLiteral("/usr/bin/openssl");
    // The authority, and a server certificate for 127.0.0.1 signed by it.
    for (const QStringList& step :
         {QStringList{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                      QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                      QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=Halvik Test CA"),
                      QStringLiteral("-keyout"), d + QStringLiteral("/ca.key"), QStringLiteral("-out"),
                      caFile()},
          QStringList{QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                      QStringLiteral("-nodes"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                      QStringLiteral("-keyout"), d + QStringLiteral("/server.key"), QStringLiteral("-out"),
                      d + QStringLiteral("/server.csr")},
          QStringList{QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                      d + QStringLiteral("/server.csr"), QStringLiteral("-CA"), caFile(),
                      QStringLiteral("-CAkey"), d + QStringLiteral("/ca.key"),
                      QStringLiteral("-CAcreateserial"), QStringLiteral("-days"), QStringLiteral("2"),
                      QStringLiteral("-extfile"), d + QStringLiteral("/san.cnf"), QStringLiteral("-out"),
                      d + QStringLiteral("/server.pem")}}) {
        QFile san(d + QStringLiteral("/san.cnf"));
        if (san.open(QIODevice::WriteOnly))
            san.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
        san.close();
        const QString out = runTool(openssl, step);
        if (out.startsWith(QStringLiteral("FAILED")))
            return out;
    }
    const QString data = d + QStringLiteral("/data");
    QString out = runTool(
        QStringLiteral("/usr/bin/mariadb-install-db"),
        {QStringLiteral("--no-defaults"), QStringLiteral("--datadir=") + data, QStringLiteral("--user=root"),
         QStringLiteral("--auth-root-authentication-method=normal"), QStringLiteral("--skip-test-db")});
    if (out.startsWith(QStringLiteral("FAILED")))
        return out;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
    }
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.start(QStringLiteral("/usr/sbin/mariadbd"),
                   {QStringLiteral("--no-defaults"), QStringLiteral("--datadir=") + data,
                    QStringLiteral("--user=root"),
                    QStringLiteral("--socket=") + d + QStringLiteral("/mysql.sock"),
                    QStringLiteral("--port=%1").arg(m_port), QStringLiteral("--bind-address=127.0.0.1"),
                    QStringLiteral("--pid-file=") + d + QStringLiteral("/mysql.pid"),
                    QStringLiteral("--ssl-ca=") + caFile(),
                    QStringLiteral("--ssl-cert=") + d + QStringLiteral("/server.pem"),
                    QStringLiteral("--ssl-key=") + d + QStringLiteral("/server.key"),
                    QStringLiteral("--require-secure-transport=ON"),
                    QStringLiteral("--innodb-buffer-pool-size=16M"), QStringLiteral("--skip-log-bin")});
    for (int i = 0; i < 300; ++i) {
        if (m_server.state() == QProcess::NotRunning)
            return QStringLiteral("FAILED: mariadbd: ") + QString::fromUtf8(m_server.readAll());
        if (!sql(QStringLiteral("SELECT 1")).startsWith(QStringLiteral("FAILED")))
            break;
        QThread::msleep(100);
    }
    out = sql(QStringLiteral(
                  "CREATE DATABASE %1; CREATE USER '%2'@'%' IDENTIFIED BY '%3' REQUIRE SSL; GRANT ALL ON "
                  "%1.* TO '%2'@'%'")
                  .arg(database(), user(), password()));
    return out.startsWith(QStringLiteral("FAILED")) ? out : QString();
}

QString MariaDbServer::sql(const QString& statement) const
{
    return runTool(QStringLiteral("/usr/bin/mariadb"),
                   {QStringLiteral("--no-defaults"), QStringLiteral("-S"),
                    m_dir.path() + QStringLiteral("/mysql.sock"), QStringLiteral("-u"),
                    QStringLiteral("root"), QStringLiteral("-N"), QStringLiteral("-B"), QStringLiteral("-e"),
                    statement})
        .trimmed();
}

} // namespace halvik::test
