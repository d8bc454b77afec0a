#pragma once

#include <QCoroTask>
#include <QList>
#include <QString>
#include <QStringList>

namespace halvik {

class AppServices;

namespace cli {

// One option of a verb: "--json", "-n N", "--scope included|remaining".
struct CliOption
{
    QString name{};  // with its dashes
    QString value{}; // what follows it ("N", "included|remaining"); empty for a flag
    QString help{};  // one line
};

// The option most verbs share.
inline CliOption jsonOption()
{
    return {QStringLiteral("--json"), {}, QStringLiteral("print the result as JSON")};
}

// One way of calling a verb, as a line of the help shows it.
struct CliForm
{
    QString subverb{};   // the word after the verb ("status" of "git status"); empty for none
    QString arguments{}; // the rest of the synopsis: "<site> [-n N] [--json]"
    QString help{};      // one line, lower case, no final full stop
    QList<CliOption> options{};

    // The verb words and the synopsis, as the help prints them: "git log <site> [-n N] [--json]".
    QString synopsis(const QString& verb) const;
    // The synopsis's first argument, optional or not, without its brackets: a placeholder
    // ("<site>", "PATH…") or the words it may be ("bash|zsh|fish"); empty when it starts with
    // an option or there is none.
    QString firstArgument() const;
};

// What a running verb is given: its own name, the words after it, and the services when it
// asked for them.
struct CliCall
{
    QString verb;
    QStringList args;
    AppServices* services = nullptr;

    AppServices& app() const { return *services; }
};

using CliRunner = QCoro::Task<int> (*)(CliCall& call);

// A verb of the command line: its name, what it needs, how it runs, and every form of it.
// The parser, `halvik help`, the man page and the completion scripts are all made from these.
struct CliCommand
{
    enum class Needs
    {
        nothing,  // runs without the site registry
        services, // the application services, started for the command line
    };

    QString verb{};
    QStringList aliases{}; // other spellings the parser accepts ("--help", "-h")
    QString summary{};     // one line, for `halvik help <verb>` and the man page
    Needs needs = Needs::services;
    // Draws images (icons, previews): runs under a GUI application on the offscreen platform.
    bool drawsImages = false;
    CliRunner run = nullptr;
    QList<CliForm> forms{};

    bool answersTo(const QString& word) const { return word == verb || aliases.contains(word); }
    // The distinct subverbs of the forms, in order ("status", "log", … of git).
    QStringList subverbs() const;
    // Every option of every form, each name once, in order.
    QList<CliOption> allOptions() const;
};

} // namespace cli
} // namespace halvik
