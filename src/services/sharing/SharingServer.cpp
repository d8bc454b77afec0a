#include "SharingServer.h"

#include "SharingError.h"

#include "services/ProcessRunner.h"
#include "services/serving/LocalServer.h"

#include "async/FireAndForget.h"
#include "platform/AtomicFile.h"
#include "platform/ProcessProbe.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

namespace halvik {

SharingServer::SharingServer(ProcessRunner& runner, QObject* parent) : QObject(parent), m_runner(runner) {}

SharingServer::~SharingServer()
{
    m_life.end();
    stop();
}

QByteArray SharingServer::routerScript()
{
    return QByteArrayLiteral(R"php(<?php
// Serves a shared site: static files as they are, everything else through index.php, with
// APP_URL and HTTPS taken from the request so that links use the address it came in by.
$root = $_SERVER['DOCUMENT_ROOT'];
$path = rawurldecode(parse_url($_SERVER['REQUEST_URI'] ?? '/', PHP_URL_PATH) ?: '/');
if ($path !== '/' && is_file($root . $path)) {
    return false;
}
if (($_SERVER['HTTP_X_FORWARDED_PROTO'] ?? '') === 'https') {
    $_SERVER['HTTPS'] = 'on';
    $_SERVER['SERVER_PORT'] = 443;
}
$scheme = (($_SERVER['HTTPS'] ?? '') === 'on') ? 'https' : 'http';
$host = $_SERVER['HTTP_HOST'] ?? 'localhost';
$appUrl = $scheme . '://' . $host;
putenv('APP_URL=' . $appUrl);
$_ENV['APP_URL'] = $appUrl;
$_SERVER['SCRIPT_NAME'] = '/index.php';
$_SERVER['SCRIPT_FILENAME'] = $root . '/index.php';
require $root . '/index.php';
)php");
}

QUrl SharingServer::start(const QString& sitePath, const QString& php, ExitHandler onExit)
{
    const QString publicFolder = QDir(sitePath).filePath(QStringLiteral("public"));
    if (!QFileInfo::exists(publicFolder + QStringLiteral("/index.php")))
        throw SharingError::missingEntryPoint();
    if (!QFileInfo(php).isExecutable())
        throw ProcessRunnerError::executableMissing(php);
    stop();
    m_directory = QDir::temp().filePath(QStringLiteral("Halvik-Preview-") +
                                        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    QDir().mkpath(m_directory);
    const QString router = m_directory + QStringLiteral("/router.php");
    writeFileAtomically(router, routerScript());

    const int port = LocalServer::freePort(49000, {});
    const QStringList arguments{QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(port),
                                QStringLiteral("-t"), publicFolder, router};
    m_stop = std::make_shared<CancellationSource>();
    m_pid = std::make_shared<std::atomic<qint64>>(0);
    fireAndForget(this, run(php, arguments, sitePath, std::move(onExit)));
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
}

QCoro::Task<> SharingServer::run(QString php, QStringList arguments, QString sitePath, ExitHandler onExit)
{
    const LifeToken alive = m_life.token();
    const std::shared_ptr<CancellationSource> stop = m_stop;
    ProcessRequest request;
    request.executable = php;
    request.arguments = arguments;
    request.workingDirectory = sitePath;
    request.environment = {{QStringLiteral("ASSET_URL"), QStringLiteral("/")},
                           {QStringLiteral("SESSION_DOMAIN"), QString()}};
    request.streamOnly = true;
    request.started = [pid = m_pid](qint64 started) { *pid = started; };
    const auto errors = m_errors;
    const ProcessRunner::OutputCallback keep = [errors](const ProcessOutput& line) {
        if (line.isStdout() || line.line.trimmed().isEmpty())
            return;
        QMutexLocker lock(&errors->mutex);
        errors->lines << line.line;
        while (errors->lines.size() > errorLinesKept)
            errors->lines.removeFirst();
    };
    try {
        co_await m_runner.run(std::move(request), keep, stop->token());
    } catch (const ProcessRunnerError&) {
    }
    if (!alive || stop->isCancelled())
        co_return;
    if (onExit)
        onExit();
}

void SharingServer::stop()
{
    if (m_stop) {
        m_stop->cancel();
        m_stop.reset();
    }
    if (const qint64 pid = m_pid->exchange(0); pid > 0)
        ProcessProbe::terminateGroup(pid);
    if (!m_directory.isEmpty()) {
        QDir(m_directory).removeRecursively();
        m_directory.clear();
    }
}

QStringList SharingServer::lastErrorLines() const
{
    QMutexLocker lock(&m_errors->mutex);
    return m_errors->lines;
}

} // namespace halvik
