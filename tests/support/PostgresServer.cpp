#include "PostgresServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QThread>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace halvik::test {

namespace {

const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

PostgresServer::PostgresServer() = default;

PostgresServer::~PostgresServer()
{
    if (m_pid <= 0)
        return;
    ::kill(pid_t(m_pid), SIGQUIT);
    for (int i = 0; i < 100 && ::kill(pid_t(m_pid), 0) == 0; ++i)
        QThread::msleep(50);
}

QString PostgresServer::run(const QStringList& command, bool asServer) const
{
    QProcess process;
    QStringList arguments = command;
    QString program = arguments.takeFirst();
    if (asServer && ::geteuid() == 0) {
        arguments =
            QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program} +
            arguments;
        program = QStringLiteral("/usr/sbin/runuser");
    }
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(60000);
    const QString output = QString::fromUtf8(process.readAll());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("FAILED: ") + output;
    return output;
}

QString PostgresServer::start()
{
    if (!QFile::exists(kBin + QStringLiteral("initdb")))
        return QStringLiteral("PostgreSQL 15 is not installed");
    const QString data = m_dir.path() + QStringLiteral("/data");
    if (::geteuid() == 0) {
        // The server refuses to run as root; its folder belongs to postgres.
        QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner | QFileDevice::ExeOther |
                                                QFileDevice::ReadOther);
        if (::chown(QFile::encodeName(m_dir.path()).constData(), 0, 0) != 0)
            return QStringLiteral("chown failed");
        QProcess::execute(QStringLiteral("/usr/bin/chown"), {QStringLiteral("postgres"), m_dir.path()});
    }
    QString out = run({kBin + QStringLiteral("initdb"), QStringLiteral("-D"), data, QStringLiteral("-A"),
                       QStringLiteral("trust"), QStringLiteral("-U"), QStringLiteral("postgres")},
                      true);
    // The superuser comes in through the socket; everyone else over TCP with a password.
    QFile hba(data + QStringLiteral("/pg_hba.conf"));
    if (out.startsWith(QStringLiteral("FAILED")) || !hba.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return out;
    hba.write("local all all trust\nhost all all 127.0.0.1/32 md5\n");
    hba.close();
    m_port = freePort();
    const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                                .arg(m_port)
                                .arg(m_dir.path());
    out = run({kBin + QStringLiteral("pg_ctl"), QStringLiteral("-D"), data, QStringLiteral("-o"), options,
               QStringLiteral("-l"), m_dir.path() + QStringLiteral("/log"), QStringLiteral("-w"),
               QStringLiteral("start")},
              true);
    if (out.startsWith(QStringLiteral("FAILED")))
        return out;
    QFile pidFile(data + QStringLiteral("/postmaster.pid"));
    if (pidFile.open(QIODevice::ReadOnly))
        m_pid = pidFile.readLine().trimmed().toLongLong();
    out = sql(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(user(), password()));
    if (out.startsWith(QStringLiteral("FAILED")))
        return out;
    recreate();
    return {};
}

QString PostgresServer::sql(const QString& statement) const
{
    return run({kBin + QStringLiteral("psql"), QStringLiteral("-h"), m_dir.path(), QStringLiteral("-p"),
                QString::number(m_port), QStringLiteral("-U"), QStringLiteral("postgres"),
                QStringLiteral("-d"),
                statement.startsWith(QStringLiteral("CREATE ROLE")) ||
                        statement.contains(QStringLiteral("DATABASE"))
                    ? QStringLiteral("postgres")
                    : database(),
                QStringLiteral("-tAq"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                QStringLiteral("-c"), statement},
               true)
        .trimmed();
}

void PostgresServer::recreate() const
{
    sql(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(database()));
    sql(QStringLiteral("CREATE DATABASE %1 OWNER %2").arg(database(), user()));
}

} // namespace halvik::test
