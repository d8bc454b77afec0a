#pragma once

#include "async/Cancellation.h"
#include "async/LifeGuard.h"
#include "models/Enums.h"

#include <QCoroTask>
#include <QObject>
#include <QUrl>

#include <functional>

namespace halvik {

class SourceControlService;

// What the connect sheet shows for one provider, and the flows its buttons start. GitHub signs
// in through the browser (the device code when an OAuth client is configured, otherwise the
// GitHub CLI) or takes a pasted token; GitLab and Bitbucket take a token; Cursor Origin signs
// in through its CLI. Main thread only.
class ConnectAccountModel : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        idle,       // nothing started; the CLI is there or not needed
        cliMissing, // the provider's CLI must be installed first
        installing,
        installed,   // ready to sign in
        waiting,     // the browser is doing the sign-in
        showingCode, // the device code is shown and GitHub is polled
        connected,
        failed
    };

    explicit ConnectAccountModel(SourceControlService& service, QObject* parent = nullptr);
    // A device sign-in still polling stops with the sheet.
    ~ConnectAccountModel() override;

    SourceControlProvider provider() const { return m_provider; }
    void setProvider(SourceControlProvider provider);
    State state() const { return m_state; }
    bool isBusy() const;
    // The headline of the current state (a sentence of the sheet), and a second line under it.
    QString statusText() const { return m_status; }
    QString detailText() const { return m_detail; }
    QString userCode() const { return m_userCode; }
    QString login() const { return m_login; }

    // GitHub and Cursor Origin sign in through the browser; GitLab and Bitbucket need a token.
    bool signsInWithBrowser() const;
    // GitHub also accepts a pasted token.
    bool acceptsToken() const { return m_provider != SourceControlProvider::origin; }
    bool usesDeviceFlow() const;
    bool needsCLI() const;
    bool cliInstalled() const;

    QCoro::Task<> install();
    QCoro::Task<> signIn();
    QCoro::Task<> connectToken(QString token, QString username);

    // Where a person creates a token for the provider (Cursor's codebase page for Origin).
    static QUrl tokenPage(SourceControlProvider provider);
    static QString tokenHelp(SourceControlProvider provider);

    // How the browser is opened belongs to the window.
    std::function<void(const QUrl&)> openURL;

    // Stops a sign-in in progress (its browser flow and the process behind it).
    void cancel();

Q_SIGNALS:
    void changed();

private:
    void setState(State state, QString status, QString detail = {});
    void restState();
    void fail(const QString& sentence);

    SourceControlService& m_service;
    SourceControlProvider m_provider = SourceControlProvider::github;
    State m_state = State::idle;
    QString m_status;
    QString m_detail;
    QString m_userCode;
    QString m_login;
    CancellationSource m_cancel;
    LifeGuard m_life;
};

} // namespace halvik
