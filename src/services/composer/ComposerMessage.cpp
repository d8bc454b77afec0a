#include "ComposerMessage.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

namespace halvik {

namespace {

// Symfony's console cuts an exception's lines at the terminal width; Composer runs without a
// terminal, so at 80 columns less the block's margins.
constexpr qsizetype cutWidth = 75;

const QRegularExpression& frameLine()
{
    static const QRegularExpression pattern(QStringLiteral("^In \\S+ line \\d+:$"));
    return pattern;
}

// "require [--dev] [--dry-run] … [--] [<packages>...]": the usage Composer prints after an error.
bool isSynopsis(const QString& line)
{
    static const QRegularExpression pattern(QStringLiteral("^[a-z][a-z0-9:-]*( \\[[^\\]]*\\]| <[^>]*>)+.*$"));
    return pattern.match(line).hasMatch();
}

bool isNetworkFailure(const QString& text)
{
    static const char* const signs[] = {
        "could not be downloaded", "curl error",         "getaddrinfo",          "could not resolve host",
        "network disabled",        "connection refused", "connection timed out", "failed to open stream",
        "network is unreachable",  "operation timed out"};
    const QString lower = text.toLower();
    for (const char* sign : signs) {
        if (lower.contains(QLatin1String(sign)))
            return true;
    }
    return false;
}

QString firstLine(const QString& text)
{
    return text.section(QLatin1Char('\n'), 0, 0).trimmed();
}

} // namespace

QString ComposerMessage::notInstalled()
{
    return QCoreApplication::translate("ComposerMessage",
                                       "This site’s dependencies are not installed. Run Install first.");
}

QString ComposerMessage::unreachablePrefix()
{
    return QCoreApplication::translate("ComposerMessage", "The package repository could not be reached: ");
}

bool ComposerMessage::saysNotInstalled(const QString& output)
{
    return output.contains(QLatin1String("No dependencies installed"), Qt::CaseInsensitive);
}

QString ComposerMessage::exceptionText(const QString& output)
{
    const QStringList lines = output.split(QLatin1Char('\n'));
    qsizetype at = 0;
    while (at < lines.size() && !frameLine().match(lines[at].trimmed()).hasMatch())
        ++at;
    if (at == lines.size())
        return {};
    // The block: lines of one width, padded with spaces, up to the first empty line after it.
    QStringList block;
    for (++at; at < lines.size(); ++at) {
        const QString& line = lines[at];
        if (line.isEmpty() && !block.isEmpty())
            break;
        if (!line.isEmpty())
            block.append(line);
    }
    // Message lines come between a blank first and a blank last padding line; each sits inside
    // two spaces of margin on either side.
    QStringList message;
    QString current;
    bool continues = false;
    for (const QString& line : std::as_const(block)) {
        if (line.trimmed().isEmpty())
            continue;
        const QString inner = line.size() > 4 ? line.mid(2, line.size() - 4) : line.trimmed();
        // A cut may fall just before a space: the continuation keeps its leading one.
        QString text = continues ? inner : inner.trimmed();
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        if (continues)
            current += text;
        else if (current.isEmpty())
            current = text;
        else {
            message.append(current);
            current = text;
        }
        // A line cut at the full width goes on in the next one, without a space between.
        continues = inner.size() == cutWidth && !inner.endsWith(QLatin1Char(' '));
    }
    if (!current.isEmpty())
        message.append(current);
    return message.join(QLatin1Char('\n'));
}

QString ComposerMessage::describe(const QString& output)
{
    // Already a sentence of ours (advice asked about a description).
    if (output.startsWith(unreachablePrefix()) || output == notInstalled())
        return output;
    if (saysNotInstalled(output))
        return notInstalled();
    const QString exception = exceptionText(output);
    if (!exception.isEmpty()) {
        if (isNetworkFailure(exception))
            return unreachablePrefix() + firstLine(exception);
        return exception.split(QLatin1Char('\n')).join(QLatin1Char(' '));
    }
    QStringList kept;
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (isSynopsis(line) || frameLine().match(line.trimmed()).hasMatch())
            continue;
        kept.append(line);
    }
    const QString text = kept.join(QLatin1Char('\n')).trimmed();
    if (isNetworkFailure(text)) {
        for (const QString& line : std::as_const(kept))
            if (isNetworkFailure(line))
                return unreachablePrefix() + line.trimmed();
    }
    return text;
}

} // namespace halvik
