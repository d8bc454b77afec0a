#include "views/hosts/CloudSignInFlow.h"

#include "views/accounts/AccountWidgets.h"

#include "async/FireAndForget.h"
#include "async/HalvikError.h"
#include "platform/Browser.h"
#include "services/hosting/CloudBrowserAuth.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/LaravelCloudClient.h"

#include <QPointer>
#include <QPushButton>

namespace halvik::views {

void runCloudSignIn(QObject* owner, LaravelCloudClient& cloud, HostAccountService& hosts, ToneLabel* status,
                    QPushButton* copyLink, std::function<void(const QUrl&)> onURL, CancellationToken cancel,
                    CloudSignInDone done)
{
    const QPointer<QObject> alive(owner);
    CloudBrowserAuth::Options options;
    options.openBrowser = [](const QUrl& url) { return Browser::open(url); };
    options.onURL = [alive, copyLink, onURL = std::move(onURL)](const QUrl& url) {
        if (!alive)
            return;
        onURL(url);
        copyLink->setVisible(true);
        copyLink->setToolTip(url.toString());
    };
    options.onStatus = [alive, status](const QString& line) {
        if (alive)
            status->setText(line);
    };
    fireAndForget(
        owner,
        [](QPointer<QObject> owned, LaravelCloudClient& client, HostAccountService& accounts,
           CloudBrowserAuth::Options how, CancellationToken stop, CloudSignInDone finished) -> QCoro::Task<> {
            QString failure;
            QList<HostAccountPtr> connected;
            try {
                const QList<CloudSignIn> signIns = co_await CloudBrowserAuth::signIn(client, how, stop);
                connected = accounts.persistCloudSignIns(signIns);
            } catch (const CancelledError&) {
                co_return;
            } catch (const HalvikError& error) {
                failure = error.description();
            }
            if (owned)
                finished(connected, failure);
        }(alive, cloud, hosts, std::move(options), cancel, std::move(done)));
}

} // namespace halvik::views
