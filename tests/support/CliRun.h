#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace halvik::test {

struct CliRun
{
    int exitCode = -1;
    QString output;      // standard output
    QString diagnostics; // standard error
};

// Runs the halvik command line while this process keeps serving its fakes (the event loop turns
// meanwhile). `interruptWhen` sends Ctrl-C once standard output holds it; a run longer than
// `timeoutMs` is killed.
CliRun runHalvik(const QStringList& args, const QByteArray& input = {}, const QString& interruptWhen = {},
                 int timeoutMs = 240000);

} // namespace halvik::test
