#pragma once

#include "OutputText.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace halvik {

class ProcessInput;

// One child process to run. The executable is an absolute path: no PATH search is done.
struct ProcessRequest
{
    QString executable;
    QStringList arguments;
    // Absent: the child starts in the application's own working directory.
    std::optional<QString> workingDirectory;
    // Set on top of the application's environment; an explicit PATH here wins over extraPath.
    QMap<QString, QString> environment;
    // Removed from the application's environment (an entry in `environment` still wins).
    QStringList removedEnvironment;
    // Every variable whose name starts with one of these is removed too.
    QStringList removedEnvironmentPrefixes;
    // Put in front of PATH.
    QStringList extraPath;
    // Written whole to standard input, which is then closed. Absent: the null device.
    std::optional<QByteArray> stdin;
    // Instead of `stdin`: input written while the child runs, until the owner closes it.
    std::shared_ptr<ProcessInput> input;
    // For children that run for hours (servers): the output callback still gets every line, but
    // the result keeps no text, so memory stays flat however much the child prints.
    bool streamOnly = false;
    // Called on the run's reader thread once the child runs, with its process id (which is
    // also its process group). Must not block.
    std::function<void(qint64)> started;
    // When set, standard output goes here in pieces as it is read, on the run's own thread,
    // and is neither split into lines nor kept in the result (for output too large to hold).
    std::function<void(const QByteArray&)> stdoutPieces;
};

struct ProcessResult
{
    int exitCode = 0;
    // The child was ended by a signal (a stop from elsewhere, a crash) rather than exiting.
    bool endedBySignal = false;
    // The whole texts, decoded when first read: `stdout.text()`.
    OutputText stdout;
    OutputText stderr;

    // The non-empty ones of stdout and stderr, in that order, joined by one line feed.
    QString combined() const
    {
        if (stdout.isEmpty())
            return stderr.text();
        if (stderr.isEmpty())
            return stdout.text();
        return stdout.text() + QLatin1Char('\n') + stderr.text();
    }
};

// One complete line of one stream, without its terminator.
struct ProcessOutput
{
    enum class Stream
    {
        stdout,
        stderr
    };

    Stream stream = Stream::stdout;
    QString line;

    bool isStdout() const { return stream == Stream::stdout; }
    bool operator==(const ProcessOutput&) const = default;
};

} // namespace halvik
