// Finishing a Laravel Cloud sign-in: from the browser's request reaching the local callback to
// "Signed in to <organization>", Cloud answering the exchange after 20 ms. Baseline, same run:
// a bare client sending the same exchange request. Best of seven each.
#include "BenchMachine.h"
#include "BenchReport.h"

#include "FakeCloud.h"
#include "WaitFor.h"
#include "services/hosting/CloudBrowserAuth.h"
#include "services/hosting/LaravelCloudClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

using namespace halvik;

namespace {

// The browser coming back: a plain GET of the callback with the code.
void comeBack(quint16 port, const QByteArray& code, QElapsedTimer& clock)
{
    auto* socket = new QTcpSocket;
    QObject::connect(socket, &QTcpSocket::connected, socket, [socket, code, &clock] {
        clock.start();
        socket->write("GET /callback?exchange_code=" + code + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->connectToHost(QHostAddress::LocalHost, port);
}

double signIn(test::FakeCloud& cloud, LaravelCloudClient& client, int round)
{
    const QByteArray code = "code-" + QByteArray::number(round);
    cloud.exchangeCode = QString::fromLatin1(code);
    QElapsedTimer clock;
    double finished = -1;
    CloudBrowserAuth::Options options;
    options.firstPort = static_cast<quint16>(43000 + round);
    options.openBrowser = [&](const QUrl& url) {
        const quint16 port = static_cast<quint16>(url.query().section(QLatin1Char('='), 1).toUInt());
        comeBack(port, code, clock);
        return true;
    };
    options.onStatus = [&](const QString& line) {
        if (line.startsWith(QStringLiteral("Signed in to ")))
            finished = clock.nsecsElapsed() / 1e9;
    };
    halvik::waitFor(CloudBrowserAuth::signIn(client, options));
    return finished;
}

double bareExchange(test::FakeCloud& cloud, QNetworkAccessManager& network, int round)
{
    const QByteArray code = "bare-" + QByteArray::number(round);
    cloud.exchangeCode = QString::fromLatin1(code);
    QNetworkRequest request(QUrl(cloud.root() + QStringLiteral("/api/cli/auth-sessions/exchange")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    request.setRawHeader("Accept", "application/json");
    QElapsedTimer clock;
    clock.start();
    QNetworkReply* reply = network.post(request, "{\"exchange_code\":\"" + code + "\"}");
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->readAll();
    reply->deleteLater();
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    bench::isolateHome(home.path());
    test::FakeCloud cloud("bench-token");
    if (!cloud.start())
        return 1;
    cloud.server().setDelay(20);
    qputenv("HALVIK_CLOUD_URL", cloud.root().toUtf8());
    LaravelCloudClient client;
    QNetworkAccessManager network;
    int round = 0;
    // Warm both paths (connections, first-use costs) before measuring.
    signIn(cloud, client, round++);
    bareExchange(cloud, network, round++);
    const double value = bench::bestOf(7, [&] { return signIn(cloud, client, round++); });
    const double baseline = bench::bestOf(7, [&] { return bareExchange(cloud, network, round++); });
    bench::report(
        QStringLiteral("cloud-signin-finish"), value, QStringLiteral("s"), baseline,
        QStringLiteral("callback request to \"Signed in to\", exchange answered after 20 ms; baseline: "
                       "the bare exchange request"));
    return 0;
}
