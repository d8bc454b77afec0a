#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <cstdio>
#include <functional>

namespace halvik::bench {

// Runs git in `repo`, feeding `input` (a fast-import stream, say) a megabyte at a time.
inline bool runGit(const QString& repo, const QStringList& args, const QByteArray& input = {})
{
    QProcess git;
    git.setWorkingDirectory(repo);
    git.start(QStringLiteral("/usr/bin/git"), args);
    if (!git.waitForStarted())
        return false;
    for (qsizetype offset = 0; offset < input.size(); offset += 1 << 20) {
        git.write(input.mid(offset, 1 << 20));
        git.waitForBytesWritten(-1);
    }
    git.closeWriteChannel();
    git.waitForFinished(-1);
    if (git.exitCode() != 0)
        std::fprintf(stderr, "git %s failed: %s\n", qPrintable(args.join(' ')),
                     git.readAllStandardError().constData());
    return git.exitCode() == 0;
}

// One `data` command of a fast-import stream.
inline void appendData(QByteArray& stream, const QByteArray& data)
{
    stream += "data " + QByteArray::number(data.size()) + "\n" + data + "\n";
}

// Benchmark repositories take long to make, so each is made once and kept for later runs.
// Unless `path` already holds a finished one, it is emptied, initialised with a `main` branch
// and handed to `fill`; true when a finished repository is there afterwards.
inline bool keptRepository(const QString& path, const std::function<bool()>& fill)
{
    const QString ready = path + QStringLiteral("/.git/halvik-bench-ready");
    if (QFile::exists(ready))
        return true;
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    if (!runGit(path, {"init", "-q", "-b", "main"}) || !fill())
        return false;
    QFile marker(ready);
    return marker.open(QIODevice::WriteOnly);
}

} // namespace halvik::bench
