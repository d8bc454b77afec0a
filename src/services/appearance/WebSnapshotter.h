#pragma once

#include "async/Cancellation.h"

#include <QCoroTask>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>
#include <optional>

namespace halvik {

class ProcessInput;
class ProcessRunner;

namespace appearance {

class SnapshotMailbox;

// Renders pages (and SVG that Qt SVG cannot read) off-screen in the halvik-snapshot helper,
// which is the only program that loads the web engine. The helper is started when a request
// comes, takes requests as JSON lines on its standard input, answers each with a line on its
// standard output, and is told to end (its input is closed) as soon as nothing is waiting.
class WebSnapshotter : public QObject
{
    Q_OBJECT
public:
    explicit WebSnapshotter(ProcessRunner& runner, QObject* parent = nullptr);
    ~WebSnapshotter() override;

    // The helper beside the running program, else in the install's libexec folder;
    // HALVIK_SNAPSHOT_HELPER overrides both.
    static QString defaultHelperPath();
    void setHelperPath(QString path) { m_helperPath = std::move(path); }
    QString helperPath() const { return m_helperPath; }

    // A page rendered at `size`, or nothing when it failed to load or render.
    QCoro::Task<std::optional<QImage>> capture(QUrl url, QSize size);
    // An SVG drawn at `size`: Qt SVG in this process, the helper for what Qt SVG cannot read.
    QCoro::Task<std::optional<QImage>> rasterizeSVG(QByteArray data, QSize size);

    // Whether a helper process runs now, and how many were started so far.
    bool isHelperRunning() const { return m_runs > 0; }
    int helpersStarted() const { return m_started; }
    // The last failure the helper reported, for logs.
    QString lastError() const { return m_lastError; }

Q_SIGNALS:
    void helperEnded();

private:
    struct Pending;
    QCoro::Task<std::optional<QImage>> request(QByteArray line, int id);
    void ensureHelper();
    QCoro::Task<> runHelper(std::shared_ptr<ProcessInput> input, int run);
    void answer(const QByteArray& line);
    void closeIfIdle();

    ProcessRunner& m_runner;
    QString m_helperPath;
    QTemporaryDir m_scratch;
    std::shared_ptr<SnapshotMailbox> m_mailbox;
    std::shared_ptr<ProcessInput> m_input; // the running helper's, while it takes requests
    int m_run = 0;                         // the helper that m_input feeds
    int m_runs = 0;                        // helpers alive
    int m_started = 0;
    int m_nextId = 1;
    QHash<int, std::shared_ptr<Pending>> m_pending;
    CancellationSource m_stop;
    QString m_lastError;
};

} // namespace appearance
} // namespace halvik
