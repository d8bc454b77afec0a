#include "CompletionScripts.h"

#include <algorithm>

namespace halvik::cli {

namespace {

// What the word at some place may be.
enum class Words
{
    none,  // anything; nothing to offer
    site,  // a registered site's name
    verb,  // a verb of the table
    files, // a path
    list,  // one of `list`
};

struct Expected
{
    Words kind = Words::none;
    QStringList list;
};

Expected expected(const QString& placeholder)
{
    if (placeholder == QLatin1String("<site>"))
        return {Words::site, {}};
    if (placeholder == QLatin1String("<verb>"))
        return {Words::verb, {}};
    if (placeholder.contains(QLatin1Char('|')))
        return {Words::list, placeholder.split(QLatin1Char('|'), Qt::SkipEmptyParts)};
    if (placeholder.startsWith(QLatin1String("<path")) || placeholder.startsWith(QLatin1String("<folder")) ||
        placeholder.startsWith(QLatin1String("PATH")))
        return {Words::files, {}};
    return {};
}

// The forms of a verb gathered by subverb: what follows "halvik <verb> <subverb>".
struct Spot
{
    QString subverb; // empty: the forms without one
    QList<CliOption> options;
    Expected first;
};

QList<Spot> spotsOf(const CliCommand& command)
{
    QList<Spot> spots;
    for (const CliForm& form : command.forms) {
        const QStringList words =
            form.subverb.isEmpty() ? QStringList{QString()} : form.subverb.split(QLatin1Char('|'));
        for (const QString& word : words) {
            auto spot =
                std::find_if(spots.begin(), spots.end(), [&](const Spot& s) { return s.subverb == word; });
            if (spot == spots.end()) {
                spots.append(Spot{word, {}, {}});
                spot = spots.end() - 1;
            }
            for (const CliOption& option : form.options)
                if (std::none_of(spot->options.begin(), spot->options.end(),
                                 [&](const CliOption& known) { return known.name == option.name; }))
                    spot->options << option;
            if (spot->first.kind == Words::none)
                spot->first = expected(form.firstArgument());
        }
    }
    return spots;
}

QStringList verbWords(const QList<CliCommand>& table)
{
    QStringList words;
    for (const CliCommand& command : table)
        words << command.verb;
    return words;
}

QStringList optionNames(const QList<CliOption>& options)
{
    QStringList names;
    for (const CliOption& option : options)
        names << option.name;
    return names;
}

// The shell-neutral words of an option's value, when it lists them ("included|remaining").
QStringList valueWords(const CliOption& option)
{
    return option.value.contains(QLatin1Char('|')) ? option.value.split(QLatin1Char('|')) : QStringList();
}

QString kindName(Words kind)
{
    switch (kind) {
    case Words::site:
        return QStringLiteral("site");
    case Words::verb:
        return QStringLiteral("verb");
    case Words::files:
        return QStringLiteral("files");
    case Words::list:
        return QStringLiteral("list");
    case Words::none:
        break;
    }
    return QStringLiteral("none");
}

// One spot's assignments in bash or zsh syntax (both read `a=(…)` and `b=word`).
QString spotAssignments(const Spot& spot, const QString& indent)
{
    QString text = indent + QStringLiteral("options=(%1); first=%2; choices=(%3)\n")
                                .arg(optionNames(spot.options).join(QLatin1Char(' ')),
                                     kindName(spot.first.kind), spot.first.list.join(QLatin1Char(' ')));
    for (const CliOption& option : spot.options)
        if (const QStringList values = valueWords(option); !values.isEmpty())
            text += indent + QStringLiteral("[[ $prev == %1 ]] && values=(%2)\n")
                                 .arg(option.name, values.join(QLatin1Char(' ')));
    return text;
}

// The case statement both shells share: sets subverbs, options, first, choices and values for
// the verb and subverb on the command line.
QString caseStatement(const QList<CliCommand>& table)
{
    QString text = QStringLiteral("    case $verb in\n");
    for (const CliCommand& command : table) {
        const QStringList words = QStringList{command.verb} + command.aliases;
        text += QStringLiteral("    %1)\n").arg(words.join(QLatin1Char('|')));
        const QList<Spot> spots = spotsOf(command);
        const QStringList subverbs = command.subverbs();
        if (!subverbs.isEmpty())
            text += QStringLiteral("        subverbs=(%1)\n").arg(subverbs.join(QLatin1Char(' ')));
        text += QStringLiteral("        case $sub in\n");
        for (const Spot& spot : spots) {
            if (spot.subverb.isEmpty())
                continue;
            text += QStringLiteral("        %1)\n").arg(spot.subverb) +
                    spotAssignments(spot, QStringLiteral("            ")) +
                    QStringLiteral("            ;;\n");
        }
        text += QStringLiteral("        *)\n            sub=\n");
        for (const Spot& spot : spots)
            if (spot.subverb.isEmpty())
                text += spotAssignments(spot, QStringLiteral("            "));
        text += QStringLiteral("            ;;\n        esac\n        ;;\n");
    }
    text += QStringLiteral("    esac\n");
    return text;
}

QString fishQuoted(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString fishOption(const CliOption& option)
{
    QString flag = option.name.startsWith(QLatin1String("--")) ? QStringLiteral("-l ") + option.name.mid(2)
                                                               : QStringLiteral("-s ") + option.name.mid(1);
    if (const QStringList values = valueWords(option); !values.isEmpty())
        flag += QStringLiteral(" -x -a ") + fishQuoted(values.join(QLatin1Char(' ')));
    else if (!option.value.isEmpty())
        flag += QStringLiteral(" -x");
    return flag + QStringLiteral(" -d ") + fishQuoted(option.help);
}

} // namespace

QString bashCompletion(const QList<CliCommand>& table)
{
    QString text =
        QStringLiteral(
            "# bash completion for halvik; generated from its command table by `halvik completion bash`.\n"
            "_halvik_sites()\n"
            "{\n"
            "    local IFS=$'\\n' name\n"
            "    for name in $(halvik completion sites 2>/dev/null); do\n"
            "        [[ $name == \"$1\"* ]] && COMPREPLY+=(\"$(printf '%q' \"$name\")\")\n"
            "    done\n"
            "}\n"
            "\n"
            "_halvik()\n"
            "{\n"
            "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
            "    local verb=${COMP_WORDS[1]} sub=${COMP_WORDS[2]} first=none at=2\n"
            "    local -a subverbs=() options=() choices=() values=()\n"
            "    COMPREPLY=()\n"
            "    if (( COMP_CWORD == 1 )); then\n"
            "        COMPREPLY=($(compgen -W \"%1\" -- \"$cur\"))\n"
            "        return\n"
            "    fi\n")
            .arg(verbWords(table).join(QLatin1Char(' ')));
    text += caseStatement(table);
    text += QStringLiteral("    [[ -n $sub ]] && at=3\n"
                           "    if (( ${#values[@]} )); then\n"
                           "        COMPREPLY=($(compgen -W \"${values[*]}\" -- \"$cur\"))\n"
                           "    elif (( COMP_CWORD == 2 && ${#subverbs[@]} )) && [[ $cur != -* ]]; then\n"
                           "        COMPREPLY=($(compgen -W \"${subverbs[*]} ${choices[*]}\" -- \"$cur\"))\n"
                           "    elif [[ $cur == -* ]]; then\n"
                           "        COMPREPLY=($(compgen -W \"${options[*]}\" -- \"$cur\"))\n"
                           "    elif (( COMP_CWORD == at )); then\n"
                           "        case $first in\n"
                           "        site) _halvik_sites \"$cur\" ;;\n"
                           "        verb) COMPREPLY=($(compgen -W \"%1\" -- \"$cur\")) ;;\n"
                           "        list) COMPREPLY=($(compgen -W \"${choices[*]}\" -- \"$cur\")) ;;\n"
                           "        files) COMPREPLY=($(compgen -f -- \"$cur\")) ;;\n"
                           "        esac\n"
                           "    else\n"
                           "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
                           "    fi\n"
                           "}\n"
                           "complete -F _halvik halvik\n")
                .arg(verbWords(table).join(QLatin1Char(' ')));
    return text;
}

QString zshCompletion(const QList<CliCommand>& table)
{
    QString text =
        QStringLiteral(
            "#compdef halvik\n"
            "# zsh completion for halvik; generated from its command table by `halvik completion zsh`.\n"
            "_halvik()\n"
            "{\n"
            "    local cur=${words[CURRENT]} prev=${words[CURRENT-1]}\n"
            "    local verb=${words[2]} sub=${words[3]} first=none at=3\n"
            "    local -a subverbs options choices values sites\n"
            "    if (( CURRENT == 2 )); then\n"
            "        compadd -- %1\n"
            "        return\n"
            "    fi\n")
            .arg(verbWords(table).join(QLatin1Char(' ')));
    text += caseStatement(table);
    text +=
        QStringLiteral(
            "    [[ -n $sub ]] && at=4\n"
            "    if (( ${#values} )); then\n"
            "        compadd -- $values\n"
            "    elif (( CURRENT == 3 && ${#subverbs} )) && [[ $cur != -* ]]; then\n"
            "        compadd -- $subverbs $choices\n"
            "    elif [[ $cur == -* ]]; then\n"
            "        compadd -- $options\n"
            "    elif (( CURRENT == at )); then\n"
            "        case $first in\n"
            "        site) sites=(${(f)\"$(halvik completion sites 2>/dev/null)\"}); compadd -- $sites ;;\n"
            "        verb) compadd -- %1 ;;\n"
            "        list) compadd -- $choices ;;\n"
            "        files) _files ;;\n"
            "        esac\n"
            "    else\n"
            "        _files\n"
            "    fi\n"
            "}\n"
            "_halvik \"$@\"\n")
            .arg(verbWords(table).join(QLatin1Char(' ')));
    return text;
}

QString fishCompletion(const QList<CliCommand>& table)
{
    QString text = QStringLiteral("# fish completion for halvik; generated from its command table by `halvik "
                                  "completion fish`.\n"
                                  "complete -c halvik -f\n");
    const QString verbs = verbWords(table).join(QLatin1Char(' '));
    for (const CliCommand& command : table)
        text += QStringLiteral("complete -c halvik -n '__fish_use_subcommand' -a %1 -d %2\n")
                    .arg(fishQuoted(command.verb), fishQuoted(command.summary));
    for (const CliCommand& command : table) {
        const QStringList subverbs = command.subverbs();
        const QString onVerb = QStringLiteral("__fish_seen_subcommand_from %1").arg(command.verb);
        for (const CliForm& form : command.forms)
            for (const QString& word : form.subverb.split(QLatin1Char('|'), Qt::SkipEmptyParts))
                text +=
                    QStringLiteral("complete -c halvik -n %1 -a %2 -d %3\n")
                        .arg(fishQuoted(onVerb + QStringLiteral("; and not __fish_seen_subcommand_from ") +
                                        subverbs.join(QLatin1Char(' '))),
                             fishQuoted(word), fishQuoted(form.help));
        for (const Spot& spot : spotsOf(command)) {
            const QString condition =
                spot.subverb.isEmpty()
                    ? (subverbs.isEmpty()
                           ? onVerb
                           : onVerb + QStringLiteral("; and not __fish_seen_subcommand_from ") +
                                 subverbs.join(QLatin1Char(' ')))
                    : onVerb + QStringLiteral("; and __fish_seen_subcommand_from ") + spot.subverb;
            for (const CliOption& option : spot.options)
                text += QStringLiteral("complete -c halvik -n %1 %2\n")
                            .arg(fishQuoted(condition), fishOption(option));
            switch (spot.first.kind) {
            case Words::site:
                text +=
                    QStringLiteral("complete -c halvik -n %1 -a '(halvik completion sites 2>/dev/null)'\n")
                        .arg(fishQuoted(condition));
                break;
            case Words::verb:
                text += QStringLiteral("complete -c halvik -n %1 -a %2\n")
                            .arg(fishQuoted(condition), fishQuoted(verbs));
                break;
            case Words::list:
                text += QStringLiteral("complete -c halvik -n %1 -a %2\n")
                            .arg(fishQuoted(condition), fishQuoted(spot.first.list.join(QLatin1Char(' '))));
                break;
            case Words::files:
                text += QStringLiteral("complete -c halvik -n %1 -F\n").arg(fishQuoted(condition));
                break;
            case Words::none:
                break;
            }
        }
    }
    return text;
}

QStringList completionShells()
{
    return {QStringLiteral("bash"), QStringLiteral("zsh"), QStringLiteral("fish")};
}

QString completionScript(const QString& shell, const QList<CliCommand>& table)
{
    if (shell == QLatin1String("bash"))
        return bashCompletion(table);
    if (shell == QLatin1String("zsh"))
        return zshCompletion(table);
    if (shell == QLatin1String("fish"))
        return fishCompletion(table);
    return {};
}

} // namespace halvik::cli
