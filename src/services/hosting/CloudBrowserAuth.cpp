#include "CloudBrowserAuth.h"

#include "CallbackServer.h"
#include "LaravelCloudClient.h"

namespace halvik {

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

QCoro::Task<QList<CloudSignIn>> CloudBrowserAuth::signIn(LaravelCloudClient& client, Options options,
                                                         CancellationToken cancel)
{
    const auto status = [&options](const QString& line) {
        if (options.onStatus)
            options.onStatus(line);
    };
    status(s("Opening a local callback on 127.0.0.1…"));
    CallbackServer server;
    const quint16 port = server.listen(options.firstPort, options.portAttempts);
    status(s("Listening on http://127.0.0.1:%1 — asking Cloud for a session…").arg(port));
    const QString address = co_await client.createAuthSession(port, cancel);
    const QUrl url(address);
    if (options.onURL)
        options.onURL(url);
    if (options.openBrowser)
        options.openBrowser(url);
    status(s("Browser opened. Authorize Halvik — this line updates the moment Cloud redirects back."));
    const QString code = co_await server.waitForCode(options.timeout, cancel);
    status(s("Got the exchange code. Finishing sign-in…"));
    const QList<CloudSignIn> signIns = co_await client.exchangeAuthCode(code, cancel);
    status(s("Signed in to %1").arg(signIns.first().organization));
    co_return signIns;
}

} // namespace halvik
