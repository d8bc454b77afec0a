#pragma once

#include "CloudRecords.h"

#include "async/Cancellation.h"

#include <QCoroTask>
#include <QUrl>

#include <chrono>
#include <functional>

namespace halvik {

class LaravelCloudClient;

// Signs in to Laravel Cloud through the browser: a callback on 127.0.0.1, a session Cloud
// opens in the browser, and the exchange of the code the browser brings back for one token
// per organization.
class CloudBrowserAuth
{
public:
    struct Options
    {
        std::function<bool(const QUrl&)> openBrowser;
        // Shown beside the status lines, for a desktop where no browser opens.
        std::function<void(const QUrl&)> onURL;
        std::function<void(const QString&)> onStatus;
        std::chrono::milliseconds timeout{std::chrono::seconds(300)};
        quint16 firstPort = 49513;
        int portAttempts = 100;
    };

    static QCoro::Task<QList<CloudSignIn>> signIn(LaravelCloudClient& client, Options options,
                                                  CancellationToken cancel = {});
};

} // namespace halvik
