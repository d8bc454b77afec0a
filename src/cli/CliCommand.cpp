#include "CliCommand.h"

namespace halvik::cli {

QString CliForm::synopsis(const QString& verb) const
{
    QString line = verb;
    if (!subverb.isEmpty())
        line += QLatin1Char(' ') + subverb;
    if (!arguments.isEmpty())
        line += QLatin1Char(' ') + arguments;
    return line;
}

QString CliForm::firstArgument() const
{
    QString first = arguments.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    if (first.startsWith(QLatin1Char('[')))
        first = first.mid(1);
    if (first.endsWith(QLatin1Char(']')))
        first.chop(1);
    // An option is not an argument.
    if (first.startsWith(QLatin1Char('-')))
        return {};
    return first;
}

QStringList CliCommand::subverbs() const
{
    QStringList words;
    for (const CliForm& form : forms)
        for (const QString& word : form.subverb.split(QLatin1Char('|'), Qt::SkipEmptyParts))
            if (!words.contains(word))
                words << word;
    return words;
}

QList<CliOption> CliCommand::allOptions() const
{
    QList<CliOption> options;
    QStringList seen;
    for (const CliForm& form : forms)
        for (const CliOption& option : form.options)
            if (!seen.contains(option.name)) {
                seen << option.name;
                options << option;
            }
    return options;
}

} // namespace halvik::cli
