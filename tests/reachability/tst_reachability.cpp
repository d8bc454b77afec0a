#include "TestMain.h"

#include "FakeWebServer.h"
#include "WaitFor.h"
#include "async/HalvikError.h"
#include "cli/CliContext.h"
#include "cli/ProbeCommand.h"
#include "services/LocalTlsTrust.h"
#include "services/ReachabilityProbe.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>
#include <vector>

using namespace halvik;
using namespace std::chrono_literals;
using halvik::test::FakeWebServer;

namespace {

Reachability probe(const QUrl& url)
{
    return halvik::waitFor(ReachabilityProbe::probe(url));
}

FakeWebServer::Response answer(int status, QList<QPair<QByteArray, QByteArray>> headers = {})
{
    return {status, std::move(headers), QByteArrayLiteral("<html>body</html>")};
}

// Accepts every connection and never says a word.
struct SilentServer
{
    QTcpServer server;
    std::vector<std::unique_ptr<QTcpSocket>> held;
    const bool listening = server.listen(QHostAddress::LocalHost, 0);

    SilentServer()
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection())
                held.emplace_back(socket);
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort())); }
};

} // namespace

class ReachabilityTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void classifiesHttpAnswers()
    {
        FakeWebServer server;
        QVERIFY(server.start());

        server.setResponse(answer(503));
        const Reachability gateway = probe(server.url());
        QCOMPARE(gateway, Reachability::gateway(503));
        QCOMPARE(gateway.summary(), QStringLiteral("Web server up, PHP not answering (HTTP 503)"));

        server.setResponse(answer(500, {{"Server", "Caddy"}}));
        const Reachability appError = probe(server.url());
        QCOMPARE(appError, Reachability::appError(500, QStringLiteral("Caddy")));
        QCOMPARE(appError.summary(),
                 QStringLiteral("Served, but the app returned HTTP 500 — open it to see the error"));

        server.setResponse(answer(404, {{"Server", "nginx"}}));
        const Reachability missing = probe(server.url());
        QCOMPARE(missing, Reachability::server(404, QStringLiteral("nginx")));
        QCOMPARE(missing.summary(), QStringLiteral("Responding (HTTP 404, nginx)"));

        // A redirect is an answer in itself, not something to follow.
        server.setResponse(answer(302, {{"Location", "http://127.0.0.1:1/elsewhere"}}));
        QCOMPARE(probe(server.url()).summary(), QStringLiteral("Responding (HTTP 302)"));

        // One HEAD request per probe.
        QCOMPARE(server.requestLines().size(), 4);
        for (const QByteArray& line : server.requestLines())
            QVERIFY2(line.startsWith("HEAD / "), line.constData());

        // Probes share a network manager but nothing through it: a cookie one probe was given is
        // never sent by the next, and each asks for a connection of its own.
        server.setResponse(answer(200, {{"Set-Cookie", "session=secret; Path=/"}}));
        QVERIFY(probe(server.url()).isServing());
        QVERIFY(probe(server.url()).isServing());
        for (const QByteArray& head : server.requestHeads().mid(4)) {
            QVERIFY2(!head.toLower().contains("cookie"), head.constData());
            QVERIFY2(head.toLower().contains("connection: close"), head.constData());
        }

        QCOMPARE(Reachability::unknown().summary(), QStringLiteral("Not checked"));
        QCOMPARE(Reachability::checking().summary(), QStringLiteral("Checking…"));
        QCOMPARE(Reachability::notRunning().summary(), QStringLiteral("Server not started"));
    }

    void explainsFailures()
    {
        const quint16 port = test::unusedLocalPort();
        const QUrl refused(QStringLiteral("http://127.0.0.1:%1/").arg(port));
        QCOMPARE(probe(refused),
                 Reachability::unreachable(QStringLiteral("Nothing is listening on 127.0.0.1:%1").arg(port)));

        // Without a port in the URL the scheme's default is named.
        for (const auto& [url, expected] :
             {std::pair{"http://127.0.0.1/", "Nothing is listening on 127.0.0.1:80"},
              std::pair{"https://127.0.0.1/", "Nothing is listening on 127.0.0.1:443"}}) {
            const Reachability result = probe(QUrl(QString::fromLatin1(url)));
            if (!result.reason().startsWith(QLatin1String("Nothing is listening")))
                QSKIP("something listens on a default port of this machine");
            QCOMPARE(result.summary(), QString::fromLatin1(expected));
        }

        QCOMPARE(probe(QUrl(QStringLiteral("http://halvik-nowhere.invalid/"))).summary(),
                 QStringLiteral("halvik-nowhere.invalid doesn't resolve — no local DNS for it"));
    }

    void trustsSelfSignedCertificatesOnlyLocally()
    {
        QVERIFY(LocalTlsTrust::isLocalHost(QStringLiteral("Blog.TEST")));
        QVERIFY(LocalTlsTrust::isLocalHost(QStringLiteral("localhost")));
        QVERIFY(LocalTlsTrust::isLocalHost(QStringLiteral("127.0.0.2")));
        QVERIFY(LocalTlsTrust::isLocalHost(QStringLiteral("::1")));
        QVERIFY(!LocalTlsTrust::isLocalHost(QStringLiteral("test.example.com")));
        QVERIFY(!LocalTlsTrust::isLocalHost(QStringLiteral("mytest")));
        QVERIFY(!LocalTlsTrust::isLocalHost(QStringLiteral("localhost.example.com")));

        auto identity = FakeWebServer::selfSignedIdentity(QStringLiteral("blog.test"));
        if (!identity)
            QSKIP("the openssl command is not available");
        FakeWebServer server;
        server.useTls(*identity);
        server.setResponse(answer(200, {{"Server", "nginx"}}));
        QVERIFY(server.start());
        QCOMPARE(probe(server.url()), Reachability::server(200, QStringLiteral("nginx")));

        // The same certificate under a name that is not local by rule must fail the normal checks.
        const QString hostName = QHostInfo::localHostName();
        const QHostInfo resolved = QHostInfo::fromName(hostName);
        if (LocalTlsTrust::isLocalHost(hostName) || resolved.addresses().isEmpty() ||
            resolved.addresses().first() != QHostAddress(QHostAddress::LocalHost))
            QSKIP("this machine's own name does not lead to 127.0.0.1");
        const Reachability refusedTrust = probe(server.url(hostName));
        QCOMPARE(refusedTrust.kind(), Reachability::Case::unreachable);
        QVERIFY2(refusedTrust.reason().startsWith(QLatin1String("TLS handshake failed")),
                 qPrintable(refusedTrust.reason()));
    }

    void waitsUntilAServerAnswers()
    {
        const quint16 port = test::unusedLocalPort();
        const QUrl url(QStringLiteral("http://127.0.0.1:%1/").arg(port));
        FakeWebServer server;
        server.setResponse(answer(200));
        QTimer::singleShot(1000, &server, [&server, port] { server.start(port); });

        QElapsedTimer clock;
        clock.start();
        const Reachability result = halvik::waitFor(ReachabilityProbe::waitUntilServing(url, 8s));
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(server.isListening(), "the late server could not take its port");
        QCOMPARE(result, Reachability::server(200));
        QVERIFY2(elapsed >= 1000 && elapsed < 2500, qPrintable(QString::number(elapsed)));
        // Refused probes were retried every 300 ms, not hammered.
        QCOMPARE(server.requestLines().size(), 1);

        // Nothing ever answers: the last failure comes back once the time is up.
        clock.restart();
        const quint16 silentPort = test::unusedLocalPort();
        const Reachability last = halvik::waitFor(ReachabilityProbe::waitUntilServing(
            QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(silentPort)), 700ms));
        QCOMPARE(last.summary(), QStringLiteral("Nothing is listening on 127.0.0.1:%1").arg(silentPort));
        QVERIFY(clock.elapsed() >= 700);
        QVERIFY(clock.elapsed() < 3000);
    }

    void silentAndStrangeServersAreToldApartWithinTheLimit()
    {
        SilentServer silent;
        QVERIFY(silent.listening);
        const QUrl silentURL = silent.url();

        QElapsedTimer clock;
        clock.start();
        const Reachability waited = halvik::waitFor(ReachabilityProbe::waitUntilServing(silentURL, 1500ms));
        QCOMPARE(waited.summary(), QStringLiteral("Timed out"));
        // The wait's own limit, not a probe's 4 or 6 seconds, decides when it gives up.
        QVERIFY2(clock.elapsed() >= 1500 && clock.elapsed() < 2300,
                 qPrintable(QString::number(clock.elapsed())));

        clock.restart();
        QCOMPARE(halvik::waitFor(ReachabilityProbe::probe(silentURL, {}, 500ms)).summary(),
                 QStringLiteral("Timed out"));
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));

        // Answers with something that is not HTTP, then hangs up.
        QTcpServer strange;
        QVERIFY(strange.listen(QHostAddress::LocalHost, 0));
        connect(&strange, &QTcpServer::newConnection, &strange, [&strange] {
            while (QTcpSocket* socket = strange.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    socket->readAll();
                    socket->write("SSH-2.0-OpenSSH_9.2 hello there\r\n\r\n");
                    socket->disconnectFromHost();
                });
            }
        });
        clock.restart();
        QCOMPARE(probe(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(strange.serverPort()))).summary(),
                 QStringLiteral("No HTTP response"));
        QVERIFY(clock.elapsed() < 3000);
    }

    void batchesAnswerInOrderAndEndWhenCancelled()
    {
        FakeWebServer server;
        QVERIFY(server.start());
        server.setResponse(answer(200, {{"Server", "nginx"}}));
        const quint16 refusing = test::unusedLocalPort();
        // More than a batch sends at once, so later probes start as earlier ones end.
        QList<QUrl> urls;
        for (int i = 0; i < 60; ++i)
            urls << (i % 3 ? server.url() : QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(refusing)));
        const QList<Reachability> answers = halvik::waitFor(ReachabilityProbe::probeAll(urls));
        QCOMPARE(answers.size(), urls.size());
        for (int i = 0; i < urls.size(); ++i)
            QCOMPARE(answers[i].isServing(), i % 3 != 0);
        QCOMPARE(answers[1], Reachability::server(200, QStringLiteral("nginx")));
        QCOMPARE(server.requestLines().size(), 40);
        QVERIFY(halvik::waitFor(ReachabilityProbe::probeAll({})).isEmpty());

        // Servers that never answer: cancelling ends the batch at once, not after the time-outs.
        SilentServer silent;
        QVERIFY(silent.listening);
        const QList<QUrl> silentURLs(40, silent.url());
        CancellationSource cancel;
        QTimer::singleShot(300, [&cancel] { cancel.cancel(); });
        QElapsedTimer clock;
        clock.start();
        QVERIFY_THROWS_EXCEPTION(CancelledError,
                                 halvik::waitFor(ReachabilityProbe::probeAll(silentURLs, cancel.token())));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    }

    void probeCommandPrintsTheSummary()
    {
        FakeWebServer server;
        QVERIFY(server.start());
        QString out;
        QTextStream stream(&out);
        const auto exitCode = [&](const QStringList& args) {
            try {
                return halvik::waitFor(cli::runProbeCommand(args, stream));
            } catch (const cli::CliError& error) {
                return error.exitCode();
            }
        };
        server.setResponse(answer(500));
        QCOMPARE(exitCode({server.url().toString()}), 0);
        QVERIFY(out.endsWith("\n") && out.count('\n') == 1);
        server.setResponse(answer(504));
        QCOMPARE(exitCode({server.url().toString()}), 1);
        QCOMPARE(exitCode({}), 2);
    }
};

HALVIK_TEST_MAIN_CORE(ReachabilityTest)
#include "tst_reachability.moc"
