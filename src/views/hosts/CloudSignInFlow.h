#pragma once

#include "async/Cancellation.h"
#include "models/HostAccount.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

class QObject;
class QPushButton;

namespace halvik {
class HostAccountService;
class LaravelCloudClient;
} // namespace halvik

namespace halvik::views {

class ToneLabel;

// The browser sign-in to Laravel Cloud as the sheets run it: its status lines go to `status`,
// its address is offered through `copyLink` and handed to `onURL`, and the accounts it saved (or
// the failure's sentence) go to `done`. Nothing is called once `owner` is gone or the sign-in
// is cancelled.
using CloudSignInDone = std::function<void(const QList<HostAccountPtr>& connected, const QString& failure)>;
void runCloudSignIn(QObject* owner, LaravelCloudClient& cloud, HostAccountService& hosts, ToneLabel* status,
                    QPushButton* copyLink, std::function<void(const QUrl&)> onURL, CancellationToken cancel,
                    CloudSignInDone done);

} // namespace halvik::views
