#include "WebSnapshotter.h"

#include "services/ProcessInput.h"
#include "services/ProcessRunner.h"

#include "async/FireAndForget.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroSignal>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QPainter>
#include <QSvgRenderer>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace halvik::appearance {

// Carries the helper's answer lines from the run's reader thread to the snapshotter on the
// main thread, and stops carrying them once the snapshotter has gone.
class SnapshotMailbox
{
public:
    explicit SnapshotMailbox(WebSnapshotter* owner) : m_owner(owner) {}
    void post(const QByteArray& line, void (WebSnapshotter::*slot)(const QByteArray&))
    {
        QMutexLocker lock(&m_mutex);
        if (!m_owner)
            return;
        QMetaObject::invokeMethod(
            m_owner, [owner = m_owner, line, slot] { (owner->*slot)(line); }, Qt::QueuedConnection);
    }
    void close()
    {
        QMutexLocker lock(&m_mutex);
        m_owner = nullptr;
    }

private:
    QMutex m_mutex;
    WebSnapshotter* m_owner;
};

class SnapshotAnswer : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    void arrived();
};

struct WebSnapshotter::Pending
{
    int run = 0;
    QString output;
    bool done = false;
    bool ok = false;
    SnapshotAnswer signal;
};

namespace {

constexpr int requestLimitMs = 40000; // the helper's own watchdog ends a page at 20 s

std::optional<QImage> readPNG(const QString& path)
{
    QImage image(path);
    QFile::remove(path);
    if (image.isNull())
        return std::nullopt;
    return image;
}

std::optional<QImage> drawSVG(const QByteArray& data, QSize size)
{
    QSvgRenderer renderer(data);
    if (!renderer.isValid())
        return std::nullopt;
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QSizeF drawn = renderer.defaultSize().isEmpty() ? QSizeF(size) : QSizeF(renderer.defaultSize());
    drawn.scale(QSizeF(size), Qt::KeepAspectRatio);
    const QPointF corner((size.width() - drawn.width()) / 2, (size.height() - drawn.height()) / 2);
    renderer.render(&painter, QRectF(corner, drawn));
    painter.end();
    return image;
}

} // namespace

WebSnapshotter::WebSnapshotter(ProcessRunner& runner, QObject* parent)
    : QObject(parent), m_runner(runner), m_helperPath(defaultHelperPath()),
      m_mailbox(std::make_shared<SnapshotMailbox>(this))
{
}

WebSnapshotter::~WebSnapshotter()
{
    m_mailbox->close();
    m_stop.cancel();
}

QString WebSnapshotter::defaultHelperPath()
{
    const QString override = qEnvironmentVariable("HALVIK_SNAPSHOT_HELPER");
    if (!override.isEmpty())
        return override;
    const QString here = QCoreApplication::applicationDirPath();
    const QString beside = here + QStringLiteral("/halvik-snapshot");
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(here + QStringLiteral("/../libexec/halvik/halvik-snapshot"));
}

QCoro::Task<std::optional<QImage>> WebSnapshotter::capture(QUrl url, QSize size)
{
    const int id = m_nextId++;
    QJsonObject line{{QStringLiteral("id"), id},
                     {QStringLiteral("kind"), QStringLiteral("page")},
                     {QStringLiteral("url"), url.toString(QUrl::FullyEncoded)},
                     {QStringLiteral("width"), size.width()},
                     {QStringLiteral("height"), size.height()}};
    co_return co_await request(QJsonDocument(line).toJson(QJsonDocument::Compact), id);
}

QCoro::Task<std::optional<QImage>> WebSnapshotter::rasterizeSVG(QByteArray data, QSize size)
{
    auto work1 = QtConcurrent::run(drawSVG, data, size);
    auto drawn = co_await work1;
    if (drawn)
        co_return drawn;
    const int id = m_nextId++;
    QJsonObject line{{QStringLiteral("id"), id},
                     {QStringLiteral("kind"), QStringLiteral("svg")},
                     {QStringLiteral("svg"), QString::fromLatin1(data.toBase64())},
                     {QStringLiteral("width"), size.width()},
                     {QStringLiteral("height"), size.height()}};
    co_return co_await request(QJsonDocument(line).toJson(QJsonDocument::Compact), id);
}

QCoro::Task<std::optional<QImage>> WebSnapshotter::request(QByteArray line, int id)
{
    if (!m_scratch.isValid() || !QFileInfo::exists(m_helperPath)) {
        m_lastError = QStringLiteral("The page renderer is missing (%1).").arg(m_helperPath);
        co_return std::nullopt;
    }
    auto pending = std::make_shared<Pending>();
    pending->output = m_scratch.filePath(QStringLiteral("%1.png").arg(id));
    // The answer names the file the helper writes.
    QJsonObject object = QJsonDocument::fromJson(line).object();
    object.insert(QStringLiteral("output"), pending->output);
    line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    m_pending.insert(id, pending);
    ensureHelper();
    pending->run = m_run;
    m_input->write(line);

    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &pending->signal, [pending] {
        pending->done = true;
        Q_EMIT pending->signal.arrived();
    });
    limit.start(requestLimitMs);
    if (!pending->done)
        co_await qCoro(&pending->signal, &SnapshotAnswer::arrived);
    m_pending.remove(id);
    closeIfIdle();
    if (!pending->ok)
        co_return std::nullopt;
    auto work2 = QtConcurrent::run(readPNG, pending->output);
    co_return co_await work2;
}

void WebSnapshotter::ensureHelper()
{
    if (m_input)
        return;
    m_input = std::make_shared<ProcessInput>();
    m_run = ++m_started;
    ++m_runs;
    fireAndForget(this, runHelper(m_input, m_run));
}

QCoro::Task<> WebSnapshotter::runHelper(std::shared_ptr<ProcessInput> input, int run)
{
    ProcessRequest request;
    request.executable = m_helperPath;
    request.input = input;
    request.streamOnly = true;
    request.environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    std::shared_ptr<SnapshotMailbox> mailbox = m_mailbox;
    const auto output = [mailbox](const ProcessOutput& out) {
        // The engine's own chatter on standard error is not Halvik's to show.
        if (out.isStdout())
            mailbox->post(out.line.toUtf8(), &WebSnapshotter::answer);
    };
    const CancellationToken token = m_stop.token();
    QString failure;
    try {
        const ProcessResult result = co_await m_runner.run(std::move(request), output, token);
        if (result.exitCode != 0 || result.endedBySignal)
            failure = QStringLiteral("The page renderer ended with status %1.").arg(result.exitCode);
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    }
    if (token.isCancelled())
        co_return;
    // Answers already posted by the helper arrive before this: they were queued first.
    QMetaObject::invokeMethod(
        this,
        [this, run, failure] {
            --m_runs;
            if (!failure.isEmpty())
                m_lastError = failure;
            for (const auto& pending : std::as_const(m_pending))
                if (pending->run == run && !pending->done) {
                    pending->done = true;
                    Q_EMIT pending->signal.arrived();
                }
            if (m_run == run)
                m_input.reset();
            Q_EMIT helperEnded();
        },
        Qt::QueuedConnection);
}

void WebSnapshotter::answer(const QByteArray& line)
{
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    const auto pending = m_pending.value(object.value(QStringLiteral("id")).toInt());
    if (!pending || pending->done)
        return;
    pending->done = true;
    pending->ok = object.value(QStringLiteral("ok")).toBool();
    if (!pending->ok)
        m_lastError = object.value(QStringLiteral("error")).toString();
    Q_EMIT pending->signal.arrived();
}

void WebSnapshotter::closeIfIdle()
{
    for (const auto& pending : std::as_const(m_pending))
        if (pending->run == m_run && !pending->done)
            return;
    if (m_input) {
        m_input->close();
        m_input.reset();
    }
}

} // namespace halvik::appearance

#include "WebSnapshotter.moc"
