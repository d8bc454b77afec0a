#include "HelpText.h"

namespace halvik::cli {

namespace {

constexpr int kHelpColumn = 35;   // where a form's line starts
constexpr int kOptionColumn = 35; // where an option's line starts in one verb's help
constexpr int kWidth = 100;       // lines wrap before this column

// `text` broken into lines of at most `width` characters, at spaces.
QStringList wrapped(const QString& text, int width)
{
    QStringList lines;
    QString line;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            lines << line;
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

// A synopsis too long for one line goes on over more, each further line indented by
// `continuation`; a bracketed group such as "[--name NAME]" is never split.
QString wrappedSynopsis(const QString& synopsis, int indent, int continuation)
{
    QStringList groups;
    int depth = 0;
    for (const QString& word : synopsis.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (depth > 0)
            groups.last() += QLatin1Char(' ') + word;
        else
            groups << word;
        depth += int(word.count(QLatin1Char('['))) - int(word.count(QLatin1Char(']')));
    }
    QString text;
    QString line = QString(indent, QLatin1Char(' '));
    bool lineEmpty = true;
    for (const QString& group : std::as_const(groups)) {
        if (!lineEmpty && line.size() + 1 + group.size() > kWidth) {
            text += line + QLatin1Char('\n');
            line = QString(continuation, QLatin1Char(' '));
            lineEmpty = true;
        }
        line += (lineEmpty ? QString() : QStringLiteral(" ")) + group;
        lineEmpty = false;
    }
    return text + line;
}

// "  synopsis   help", the help beside the synopsis when it fits there, else below it.
void appendEntry(QString& text, const QString& synopsis, const QString& help, int indent, int column)
{
    const QString lead = wrappedSynopsis(synopsis, indent, indent + 4);
    const QStringList lines = wrapped(help, kWidth - column);
    if (lead.size() <= column - 3) { // two spaces at least between them
        text += lead.leftJustified(column - 1) + lines.value(0) + QLatin1Char('\n');
    } else {
        text += lead + QLatin1Char('\n');
        if (!lines.isEmpty())
            text += QString(column - 1, QLatin1Char(' ')) + lines.first() + QLatin1Char('\n');
    }
    for (const QString& line : lines.mid(1))
        text += QString(column - 1, QLatin1Char(' ')) + line + QLatin1Char('\n');
}

QString wrappedParagraph(const QString& paragraph)
{
    return wrapped(paragraph, kWidth - 4).join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

QString siteReferenceText()
{
    return QStringLiteral("<site> is a site id, its folder path, or a display name that matches exactly one "
                          "site; the git commands also take any folder.");
}

QString exitStatusText()
{
    return QStringLiteral("Exit status: 0 on success; 1 when the command failed, with \"halvik: <reason>\" "
                          "on standard error; 2 when the command line was not understood (unknown command, "
                          "missing argument, bad option).");
}

QString generalHelp(const QList<CliCommand>& table)
{
    QString text = QStringLiteral("Usage: halvik [command]\n"
                                  "\n"
                                  "Without a command, Halvik opens its window.\n"
                                  "\n"
                                  "Commands:\n");
    for (const CliCommand& command : table)
        for (const CliForm& form : command.forms)
            appendEntry(text, form.synopsis(command.verb), form.help, 2, kHelpColumn);
    text += QLatin1Char('\n') + wrappedParagraph(siteReferenceText());
    text += QLatin1Char('\n') + wrappedParagraph(exitStatusText());
    text += QStringLiteral("\n“halvik help <command>” tells more about one command.\n");
    return text;
}

QString verbHelp(const CliCommand& command)
{
    QString text = QStringLiteral("halvik %1 — %2\n\n").arg(command.verb, command.summary);
    for (const CliForm& form : command.forms) {
        text += wrappedSynopsis(QStringLiteral("halvik ") + form.synopsis(command.verb), 2, 10) +
                QLatin1Char('\n');
        for (const QString& line : wrapped(form.help, kWidth - 6))
            text += QStringLiteral("      ") + line + QLatin1Char('\n');
        for (const CliOption& option : form.options) {
            const QString name =
                option.value.isEmpty() ? option.name : option.name + QLatin1Char(' ') + option.value;
            appendEntry(text, name, option.help, 6, kOptionColumn);
        }
        text += QLatin1Char('\n');
    }
    if (!command.aliases.isEmpty())
        text += QStringLiteral("Also spelled: %1\n").arg(command.aliases.join(QStringLiteral(", ")));
    return text;
}

} // namespace halvik::cli
