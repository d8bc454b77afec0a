#include "SingleInstance.h"

#include "Log.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace halvik {

namespace {

const QByteArray kRaise = QByteArrayLiteral("raise\n");
constexpr int kAnswerMilliseconds = 1000;

QString userId()
{
#ifdef Q_OS_UNIX
    return QString::number(::getuid());
#else
    return qEnvironmentVariable("USERNAME", QStringLiteral("user"));
#endif
}

} // namespace

SingleInstance::SingleInstance(QString serverPath, QObject* parent)
    : QObject(parent), m_path(std::move(serverPath))
{
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close(); // removes the socket file
}

QString SingleInstance::defaultServerPath()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("halvik-window-") + userId());
}

bool SingleInstance::claim()
{
    if (m_server)
        return true;
    if (askRunningWindow())
        return false;
    return listen();
}

bool SingleInstance::askRunningWindow()
{
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(kAnswerMilliseconds))
        return false;
    socket.write(kRaise);
    if (!socket.waitForBytesWritten(kAnswerMilliseconds))
        return false;
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine())
                    if (socket->readLine() == kRaise)
                        Q_EMIT raiseRequested();
            });
        }
    });
    if (m_server->listen(m_path))
        return true;
    // Another window may have started listening a moment ago; if it answers now, it wins.
    if (askRunningWindow()) {
        delete m_server;
        m_server = nullptr;
        return false;
    }
    // Nobody answers, so the socket file there was left by a window that crashed.
    QLocalServer::removeServer(m_path);
    if (m_server->listen(m_path))
        return true;
    qCWarning(halvikLog).noquote() << "Halvik cannot listen on" << m_path << ":" << m_server->errorString();
    delete m_server;
    m_server = nullptr;
    // Without the socket the window still opens; only the one-window rule is lost.
    return true;
}

} // namespace halvik
