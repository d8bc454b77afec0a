#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

#include <cstdio>

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

} // namespace halvik::bench
