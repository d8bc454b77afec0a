#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>

namespace halvik {

// Copies a project folder into a new one on the calling thread (run it on a worker): folders,
// files with their modes (by reflink where the file system can, else in-kernel copies), and
// links as links, never followed; an absolute link pointing into the source is re-pointed into
// the copy, so the copy never writes into the original. Sockets and FIFOs are skipped.
class FolderCopier
{
public:
    struct Options
    {
        QString source;
        QString destination;         // must not exist; created here
        QSet<QString> excludedNames; // skipped at any depth, with everything below
    };

    struct Result
    {
        qint64 bytes = 0;
        qint64 totalBytes = 0;
        QStringList notes; // one line per entry left out
        std::optional<QString> error;
        bool cancelled = false;
    };

    // (bytes copied, bytes to copy); called on the copying thread, at most every few
    // milliseconds.
    using Progress = std::function<void(qint64, qint64)>;

    static Result copy(const Options& options, const std::atomic<bool>& cancel,
                       const Progress& progress = {});
    // Where a link in the copy should point: `target` re-rooted when it is an absolute path
    // inside `sourceRoot`, else unchanged.
    static QString repointedLink(const QString& target, const QString& sourceRoot,
                                 const QString& destinationRoot);
};

} // namespace halvik
