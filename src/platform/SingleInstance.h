#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace halvik {

// Keeps one window per user. The first window listens on a local socket in the user's runtime
// folder; a later start finds it there, asks it to come to the front and steps aside. A socket
// file left behind by a window that crashed answers nobody, so it is removed and taken over.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // `serverPath` is where the socket lives; by default the user's runtime folder.
    explicit SingleInstance(QString serverPath = defaultServerPath(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one window; false when a running window answered and
    // was asked to come to the front. Local sockets answer at once, so this returns promptly;
    // it runs before the window exists.
    bool claim();
    QString serverPath() const { return m_path; }

    // $XDG_RUNTIME_DIR (else the temporary folder)/halvik-window-<user id>.
    static QString defaultServerPath();

Q_SIGNALS:
    // Another start asked the running window to come to the front.
    void raiseRequested();

private:
    bool askRunningWindow();
    bool listen();

    QString m_path;
    QLocalServer* m_server = nullptr;
};

} // namespace halvik
