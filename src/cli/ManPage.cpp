#include "ManPage.h"

#include "HelpText.h"

namespace halvik::cli {

namespace {

// The environment variables a person is most likely to set by hand; the README lists them all.
struct Variable
{
    const char* name;
    const char* meaning;
};
constexpr Variable kVariables[] = {
    {"HALVIK_UPDATES_URL",
     "The release feed \\(lqhalvik check-update\\(rq and \\(lqCheck for Updates\\&...\\(rq "
     "read: a JSON document with \\(lqversion\\(rq, \\(lqurl\\(rq and \\(lqnotes\\(rq."},
    {"XDG_DATA_HOME", "Where Halvik keeps its folder (\\fIHalvik\\fP under it; default "
                      "\\fI~/.local/share\\fP)."},
    {"XDG_CONFIG_HOME", "Where the preferences file lives (default \\fI~/.config\\fP)."},
};

struct Example
{
    const char* command;
    const char* meaning;
};
constexpr Example kExamples[] = {
    {"halvik sites", "List the registered sites, newest first."},
    {"halvik import ~/Sites/blog --name Blog", "Register a folder that already holds a site."},
    {"halvik open Blog", "Open the site named Blog in the browser, serving it when needed."},
    {"halvik git status Blog --json", "The repository's branch and changed files, as JSON."},
    {"halvik outdated Blog", "The site's outdated Composer packages."},
    {"halvik completion bash > ~/.local/share/bash-completion/completions/halvik",
     "Install the Bash completions for this account."},
};

QString optionText(const CliOption& option)
{
    QString text = QStringLiteral("\\fB") + roffEscaped(option.name) + QStringLiteral("\\fP");
    if (!option.value.isEmpty())
        text += QStringLiteral(" \\fI") + roffEscaped(option.value) + QStringLiteral("\\fP");
    return text;
}

} // namespace

QString roffEscaped(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size() + 16);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            escaped += QStringLiteral("\\e");
            break;
        case '-':
            escaped += QStringLiteral("\\-");
            break;
        case '\'':
            escaped += QStringLiteral("\\(aq");
            break;
        case '"':
            escaped += QStringLiteral("\\(dq");
            break;
        case 0x2018:
            escaped += QStringLiteral("\\(oq");
            break;
        case 0x2019:
            escaped += QStringLiteral("\\(cq");
            break;
        case 0x201C:
            escaped += QStringLiteral("\\(lq");
            break;
        case 0x201D:
            escaped += QStringLiteral("\\(rq");
            break;
        case 0x2013:
            escaped += QStringLiteral("\\(en");
            break;
        case 0x2014:
            escaped += QStringLiteral("\\(em");
            break;
        case 0x2026:
            escaped += QStringLiteral(".\\|.\\|.\\&");
            break; // the ASCII ellipsis of roff
        default:
            if (c.unicode() < 0x80)
                escaped += c;
            else
                escaped += QStringLiteral("\\[u%1]").arg(
                    QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')));
        }
    }
    // A line that starts with a dot or a quote would be read as a request.
    if (escaped.startsWith(QLatin1Char('.')) || escaped.startsWith(QLatin1Char('\'')))
        escaped.prepend(QStringLiteral("\\&"));
    return escaped;
}

QString manPage(const QList<CliCommand>& table, const QString& version)
{
    QString page;
    page += QStringLiteral(".TH HALVIK 1 \"\" \"Halvik %1\" \"User Commands\"\n").arg(roffEscaped(version));
    // Left-aligned and unhyphenated: a command reference is read for its exact words.
    page += QStringLiteral(".ad l\n.nh\n");
    page += QStringLiteral(".SH NAME\nhalvik \\- manage local Laravel and Quillmar sites\n");
    page += QStringLiteral(".SH SYNOPSIS\n.B halvik\n.br\n.B halvik\n.I command\n.RI [ arguments ]\n");
    page += QStringLiteral(
        ".SH DESCRIPTION\n"
        "Halvik keeps a list of the Laravel and Quillmar sites on this computer, serves and opens them, "
        "manages the PHP, Composer and Node they run with, updates their packages and is a Git client for "
        "each site\\(aqs repository.\n"
        ".PP\n"
        "Without a command, Halvik opens its window. With one, it runs that command without a window and "
        "ends; the window and any number of commands may run at the same time and share one list of "
        "sites.\n");
    page += QStringLiteral(".SH COMMANDS\n");
    for (const CliCommand& command : table) {
        page += QStringLiteral(".SS %1\n%2\n").arg(roffEscaped(command.verb), roffEscaped(command.summary));
        if (!command.aliases.isEmpty())
            page += QStringLiteral("Also spelled \\fB%1\\fP.\n")
                        .arg(roffEscaped(command.aliases.join(QStringLiteral(", "))));
        for (const CliForm& form : command.forms) {
            const QString words =
                form.subverb.isEmpty() ? command.verb : command.verb + QLatin1Char(' ') + form.subverb;
            page += QStringLiteral(".TP\n\\fBhalvik %1\\fP").arg(roffEscaped(words));
            if (!form.arguments.isEmpty())
                page += QStringLiteral(" \\fI%1\\fP").arg(roffEscaped(form.arguments));
            page += QLatin1Char('\n') + roffEscaped(form.help) + QLatin1Char('\n');
            if (form.options.isEmpty())
                continue;
            page += QStringLiteral(".RS\n");
            for (const CliOption& option : form.options)
                page += QStringLiteral(".TP\n") + optionText(option) + QLatin1Char('\n') +
                        roffEscaped(option.help) + QLatin1Char('\n');
            page += QStringLiteral(".RE\n");
        }
    }
    page += QStringLiteral(".SH SITES\n") + roffEscaped(siteReferenceText()) + QLatin1Char('\n');
    page += QStringLiteral(".SH EXIT STATUS\n") + roffEscaped(exitStatusText()) + QLatin1Char('\n');
    page += QStringLiteral(".SH ENVIRONMENT\n");
    for (const Variable& variable : kVariables)
        page += QStringLiteral(".TP\n.B %1\n%2\n")
                    .arg(QLatin1String(variable.name), QString::fromUtf8(variable.meaning));
    page += QStringLiteral(
        ".SH FILES\n"
        ".TP\n.I ~/.local/share/Halvik/store.json\nThe registered sites and connected accounts.\n"
        ".TP\n.I ~/.local/share/Halvik/secrets.json\nTokens of the connected accounts, readable by this "
        "account alone.\n"
        ".TP\n.I ~/.config/Halvik/Halvik.conf\nThe preferences.\n");
    page += QStringLiteral(".SH EXAMPLES\n");
    for (const Example& example : kExamples)
        page += QStringLiteral(".TP\n.B %1\n%2\n")
                    .arg(roffEscaped(QString::fromUtf8(example.command)),
                         roffEscaped(QString::fromUtf8(example.meaning)));
    page += QStringLiteral(".SH SEE ALSO\n.BR git (1),\n.BR php (1),\n.BR composer (1)\n");
    return page;
}

} // namespace halvik::cli
