#include "gitcore/GitFailureText.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

namespace halvik::gitcore {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("GitFailureText", text);
}

// The name Git quotes after `marker` ("… 'name' …" or "marker: name"), or an empty string.
QString namedAfter(const QString& output, const QString& marker)
{
    const qsizetype at = output.indexOf(marker, 0, Qt::CaseInsensitive);
    if (at < 0)
        return {};
    QString rest = output.mid(at + marker.size());
    rest = rest.left(rest.indexOf(QLatin1Char('\n'))).trimmed();
    if (rest.startsWith(QLatin1Char('\''))) {
        const qsizetype close = rest.indexOf(QLatin1Char('\''), 1);
        return close > 0 ? rest.mid(1, close - 1) : QString();
    }
    return rest;
}

// Git's own reason without its "fatal:" or "error:" label, from its first such line (or its
// first line at all).
QString gitReason(const QString& output)
{
    static const QRegularExpression label(QStringLiteral("^(fatal|error|warning|hint): *"));
    QString chosen;
    for (const QString& raw : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString line = raw.trimmed();
        if (line.isEmpty())
            continue;
        if (label.match(line).hasMatch() && !line.startsWith(QLatin1String("hint:")) &&
            !line.startsWith(QLatin1String("warning:"))) {
            chosen = line;
            break;
        }
        if (chosen.isEmpty())
            chosen = line;
    }
    chosen.remove(label);
    chosen = chosen.trimmed();
    if (chosen.isEmpty())
        return {};
    chosen[0] = chosen[0].toUpper();
    if (!chosen.endsWith(QLatin1Char('.')))
        chosen += QLatin1Char('.');
    return chosen;
}

} // namespace

QString GitFailureText::noRemote()
{
    return tr("This site has no remote yet. Add its remote URL, then try again.");
}

QString GitFailureText::remoteUnreachable()
{
    return tr("The remote could not be reached. Check the remote URL and your connection, then try again.");
}

QString GitFailureText::invalidStash()
{
    return tr("Invalid stash reference.");
}

QString GitFailureText::sentence(const QString& gitOutput)
{
    const QString text = gitOutput.toLower();
    const auto has = [&text](const char* needle) { return text.contains(QLatin1String(needle)); };

    if (has("does not appear to be a git repository") || has("no configured push destination") ||
        has("no such remote"))
        return noRemote();
    if (has("could not resolve host") || has("unable to access") || has("could not read from remote") ||
        has("connection refused") || has("connection timed out"))
        return remoteUnreachable();
    if ((has("stash@{") && has("not a valid reference")) || has("log for 'stash'") || has("no stash entries"))
        return invalidStash();
    if (has("invalid reference:")) {
        const QString name = namedAfter(gitOutput, QStringLiteral("invalid reference:"));
        return tr("There is no branch or commit named %1.").arg(name);
    }
    for (const char* marker : {"bad revision", "unknown revision or path not in the working tree",
                               "not a valid object name", "ambiguous argument"}) {
        if (has(marker)) {
            const QString name = namedAfter(gitOutput, QString::fromLatin1(marker));
            return name.isEmpty() ? tr("Git doesn\u2019t know that branch or commit.")
                                  : tr("There is no branch or commit named %1.").arg(name);
        }
    }
    if (has("did not match any file")) {
        const QString name = namedAfter(gitOutput, QStringLiteral("pathspec"));
        return tr("Git doesn\u2019t know %1 in this site.").arg(name.isEmpty() ? tr("that path") : name);
    }
    if (has("already exists")) {
        const QString name = namedAfter(gitOutput, QStringLiteral("a branch named"));
        if (!name.isEmpty())
            return tr("A branch named %1 already exists.").arg(name);
    }
    if (has("not a git repository"))
        return tr("Not a Git repository.");
    if (has("index.lock"))
        return tr("Another Git program is working in this site. Try again when it has finished.");
    // A sentence of Halvik's own ("Invalid branch name.") passes unchanged.
    static const QRegularExpression gitLabel(QStringLiteral("(^|\n)\\s*(fatal|error|usage):"));
    if (!gitLabel.match(gitOutput).hasMatch() && !gitOutput.trimmed().isEmpty())
        return gitOutput.trimmed();
    const QString reason = gitReason(gitOutput);
    return reason.isEmpty() ? tr("Git could not finish.") : tr("Git could not finish: %1").arg(reason);
}

} // namespace halvik::gitcore
