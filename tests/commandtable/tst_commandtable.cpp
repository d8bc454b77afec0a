#include "TestMain.h"
#include "TestPaths.h"

#include "cli/CommandTable.h"
#include "cli/CompletionScripts.h"
#include "cli/HelpText.h"
#include "cli/ManPage.h"
#include "models/SecretStore.h"
#include "models/SiteStore.h"
#include "platform/AppDataDir.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace halvik;
using namespace halvik::cli;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& args, const QByteArray& input = {},
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, args);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

Run runHalvik(const QStringList& args)
{
    return run(test::halvikBinary(), args);
}

// The environment of a shell that finds this build's halvik first on PATH.
QProcessEnvironment shellEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH",
                       QFileInfo(test::halvikBinary()).absolutePath() + ":" + environment.value("PATH"));
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    return environment;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QString& text)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(text.toUtf8());
    return file.fileName();
}

// What bash's completion offers for `line` (the last word is completed; a trailing space starts a
// new empty word), sorted.
QStringList bashCompletions(const QString& script, const QString& line)
{
    QStringList words = line.split(' ');
    const QString programText = QStringLiteral("source \"$1\"\n"
                                               "shift\n"
                                               "COMP_WORDS=(\"$@\")\n"
                                               "COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))\n"
                                               "_halvik\n"
                                               "printf '%s\\n' \"${COMPREPLY[@]}\"\n");
    const Run result =
        run("bash", QStringList{"-c", programText, "bash", script} + words, {}, shellEnvironment());
    QStringList offered = result.out.split('\n', Qt::SkipEmptyParts);
    offered.sort();
    return offered;
}

// What zsh's completion function offers for `line`. Outside the completion system, compadd is
// stood in for by a function that keeps the words matching the current one, as compadd does.
QStringList zshCompletions(const QString& script, const QString& line)
{
    const QString programText = QStringLiteral("compadd() { [[ $1 == -- ]] && shift; local w; for w; do [[ "
                                               "$w == ${words[CURRENT]}* ]] && print -r -- $w; "
                                               "done; }\n"
                                               "_files() { print -r -- '<files>'; }\n"
                                               "words=(\"${@:2}\")\n"
                                               "CURRENT=${#words}\n"
                                               "source \"$1\"\n");
    const Run result = run("zsh", QStringList{"-f", "-c", programText, "zsh", script} + line.split(' '), {},
                           shellEnvironment());
    QStringList offered = result.out.split('\n', Qt::SkipEmptyParts);
    offered.sort();
    return offered;
}

// What fish offers for `line`, with the completion script loaded; the words alone, sorted.
QStringList fishCompletions(const QString& script, const QString& line)
{
    const Run result =
        run("fish", {"--no-config", "-c", QString("source %1; complete -C '%2'").arg(script, line)}, {},
            shellEnvironment());
    QStringList offered;
    for (const QString& entry : result.out.split('\n', Qt::SkipEmptyParts))
        offered << entry.section('\t', 0, 0);
    offered.sort();
    return offered;
}

// Rendered roff as the words a reader sees: runs of spaces made one, and the minus and hyphen
// glyphs of the UTF-8 device read as the ASCII hyphen they were written as.
QString plainText(QString rendered)
{
    rendered.replace(QChar(0x2212), '-').replace(QChar(0x2010), '-');
    return rendered.simplified();
}

QList<SitePtr> writeSites(const QStringList& names)
{
    SecretStore secrets;
    SiteStore store(secrets);
    QList<SitePtr> sites;
    for (const QString& name : names) {
        const QString path = QDir::homePath() + "/Sites/" + QString(name).replace(' ', '-');
        QDir().mkpath(path);
        auto site = std::make_shared<Site>(name, path);
        store.insertSite(site);
        sites << site;
    }
    store.flush();
    return sites;
}

} // namespace

class CommandTableTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The table is what every other face is made from, so its entries must be whole and must
    // not contradict each other: one verb per word, a runner for each, and every option a form
    // lists written in its synopsis (and every option in a synopsis listed).
    void everyEntryIsWholeAndConsistent()
    {
        QStringList words;
        for (const CliCommand& command : commandTable()) {
            QVERIFY2(command.run, qPrintable(command.verb));
            QVERIFY2(!command.summary.isEmpty(), qPrintable(command.verb));
            QVERIFY2(!command.forms.isEmpty(), qPrintable(command.verb));
            const QStringList spellings = QStringList{command.verb} + command.aliases;
            for (const QString& word : spellings) {
                QVERIFY2(!words.contains(word), qPrintable("two verbs answer to " + word));
                words << word;
                QCOMPARE(findCommand(word), &command);
            }
            for (const CliForm& form : command.forms) {
                const QString synopsis = form.synopsis(command.verb);
                QVERIFY2(!form.help.isEmpty() && !form.help.endsWith('.'), qPrintable(synopsis));
                for (const CliOption& option : form.options) {
                    QVERIFY2(option.name.startsWith('-'), qPrintable(synopsis));
                    QVERIFY2(!option.help.isEmpty(), qPrintable(synopsis + " " + option.name));
                    QVERIFY2(QRegularExpression("(^|[\\s\\[|])" + QRegularExpression::escape(option.name) +
                                                "($|[\\s\\]|])")
                                 .match(form.arguments)
                                 .hasMatch(),
                             qPrintable(option.name + " is not in: " + synopsis));
                }
                const auto written =
                    QRegularExpression("(?:^|[\\s\\[|])(--?[a-z][a-z-]*)").globalMatch(form.arguments);
                for (auto it = written; it.hasNext();) {
                    const QString name = it.next().captured(1);
                    QVERIFY2(std::any_of(form.options.begin(), form.options.end(),
                                         [&](const CliOption& option) { return option.name == name; }),
                             qPrintable(name + " is written but not described in: " + synopsis));
                }
            }
        }
        QVERIFY(!findCommand("no-such-verb"));
        QVERIFY(words.contains("--help") && words.contains("-h") && words.contains("version"));
    }

    // `halvik help` is the table, form by form, and `halvik help <verb>` gives each form with
    // its options; a verb the table lacks is a usage error.
    void helpFollowsTheTable()
    {
        const Run help = runHalvik({"help"});
        QCOMPARE(help.exitCode, 0);
        QCOMPARE(help.out, generalHelp(commandTable()));
        // A long synopsis goes on over lines indented by six; read it back as one line.
        QString unwrapped = help.out;
        unwrapped.replace(QRegularExpression("\n {6}(?=\\S)"), " ");
        for (const CliCommand& command : commandTable())
            for (const CliForm& form : command.forms) {
                const QString synopsis = form.synopsis(command.verb);
                QVERIFY2(unwrapped.contains("\n  " + synopsis + " ") ||
                             unwrapped.contains("\n  " + synopsis + "\n"),
                         qPrintable(synopsis));
                const QString firstWords = form.help.section(' ', 0, 2);
                QVERIFY2(help.out.contains(firstWords), qPrintable(firstWords));
            }
        QVERIFY(help.out.contains("Exit status: 0 on success; 1 when the command failed"));
        for (const QString& line : help.out.split('\n'))
            QVERIFY2(line.size() <= 100, qPrintable(line));

        for (const CliCommand& command : commandTable()) {
            const Run verb = runHalvik({"help", command.verb});
            QCOMPARE(verb.exitCode, 0);
            QVERIFY(verb.out.startsWith("halvik " + command.verb + " — " + command.summary));
            QString verbUnwrapped = verb.out;
            verbUnwrapped.replace(QRegularExpression("\n {10}(?=\\S)"), " ");
            for (const QString& line : verb.out.split('\n'))
                QVERIFY2(line.size() <= 100, qPrintable(line));
            for (const CliForm& form : command.forms) {
                QVERIFY2(verbUnwrapped.contains("  halvik " + form.synopsis(command.verb)),
                         qPrintable(command.verb));
                for (const CliOption& option : form.options)
                    QVERIFY2(verb.out.contains("      " + option.name),
                             qPrintable(command.verb + " " + option.name));
            }
        }
        QCOMPARE(runHalvik({"help", "--help"}).out, runHalvik({"help", "help"}).out);

        const Run unknown = runHalvik({"help", "frobnicate"});
        QCOMPARE(unknown.exitCode, 2);
        QVERIFY(unknown.err.contains("Unknown command “frobnicate”."));
        QCOMPARE(runHalvik({"frobnicate"}).exitCode, 2);
        QCOMPARE(runHalvik({"help", "git", "status"}).exitCode, 2);
    }

    // The manual page names every form and option of the table, and groff renders it without a
    // single warning, the typographic characters of the help included.
    void manPageFollowsTheTableAndRendersCleanly()
    {
        const Run man = runHalvik({"help", "--man"});
        QCOMPARE(man.exitCode, 0);
        QCOMPARE(man.out, manPage(commandTable(), HALVIK_VERSION));
        QVERIFY(man.out.startsWith(".TH HALVIK 1 "));
        for (const CliCommand& command : commandTable()) {
            QVERIFY2(man.out.contains(".SS " + roffEscaped(command.verb) + "\n"), qPrintable(command.verb));
            for (const CliForm& form : command.forms) {
                const QString words =
                    form.subverb.isEmpty() ? command.verb : command.verb + " " + form.subverb;
                QVERIFY2(man.out.contains("\\fBhalvik " + roffEscaped(words) + "\\fP"), qPrintable(words));
                QVERIFY2(man.out.contains(roffEscaped(form.arguments)), qPrintable(form.arguments));
                for (const CliOption& option : form.options)
                    QVERIFY2(man.out.contains("\\fB" + roffEscaped(option.name) + "\\fP"),
                             qPrintable(option.name));
            }
        }
        QTemporaryDir dir;
        const QString page = writeFile(dir, "halvik.1", man.out);
        const Run lint = run("groff", {"-ww", "-man", "-Tutf8", "-z", page});
        QCOMPARE(lint.exitCode, 0);
        QCOMPARE(lint.err, QString());
        const Run rendered = run("groff", {"-man", "-Tutf8", "-P", "-cbou", page});
        for (const char* heading : {"NAME", "SYNOPSIS", "COMMANDS", "EXIT STATUS", "ENVIRONMENT", "EXAMPLES"})
            QVERIFY2(rendered.out.contains("\n" + QString(heading) + "\n"), heading);
        const QString text = plainText(rendered.out);
        QVERIFY(text.contains("halvik git log <site> [-n N] [--json]"));
        QVERIFY(text.contains("php artisan ARGS... in the site, logged"));
        QVERIFY(text.contains("halvik completion bash|zsh|fish"));
    }

    // Text that roff would read as requests, escapes or special glyphs comes out as written.
    void roffEscapingKeepsTheText()
    {
        const QString text = ".hidden 'quoted' \\path\\ --all “this” isn’t – that — “done”…";
        QTemporaryDir dir;
        const QString page = writeFile(dir, "t.1", ".TH T 1\n.SH NAME\n" + roffEscaped(text) + "\n");
        const Run rendered = run("groff", {"-ww", "-man", "-Tutf8", "-P", "-cbou", page});
        QCOMPARE(rendered.err, QString());
        const QString expected = QString(text).replace("…", "...");
        QVERIFY2(plainText(rendered.out).contains(expected), qPrintable(rendered.out));
    }

    // Each shell's script holds every verb, subverb and option of the table and parses.
    void completionScriptsHoldTheTable()
    {
        QTemporaryDir dir;
        for (const QString& shell : completionShells()) {
            const Run script = runHalvik({"completion", shell});
            QCOMPARE(script.exitCode, 0);
            QCOMPARE(script.out, completionScript(shell, commandTable()));
            for (const CliCommand& command : commandTable()) {
                QVERIFY2(script.out.contains(command.verb), qPrintable(shell + " " + command.verb));
                for (const QString& subverb : command.subverbs())
                    QVERIFY2(script.out.contains(subverb), qPrintable(shell + " " + subverb));
                for (const CliOption& option : command.allOptions()) {
                    const QString written = shell == "fish"
                                                ? (option.name.startsWith("--") ? "-l " + option.name.mid(2)
                                                                                : "-s " + option.name.mid(1))
                                                : option.name;
                    QVERIFY2(script.out.contains(written), qPrintable(shell + " " + option.name));
                }
            }
            const QString file = writeFile(dir, "halvik." + shell, script.out);
            const Run parsed =
                shell == "fish" ? run("fish", {"--no-execute", file}) : run(shell, {"-n", file});
            QVERIFY2(parsed.exitCode == 0, qPrintable(shell + ": " + parsed.err));
        }
        QCOMPARE(runHalvik({"completion", "tcsh"}).exitCode, 2);
        QCOMPARE(runHalvik({"completion"}).exitCode, 2);
    }

    // Bash completes verbs, subverbs, options, an option's values and the registered sites'
    // names, which the script reads from the store through `halvik completion sites`.
    void bashCompletesFromTheTableAndTheStore()
    {
        writeSites({"blog", "shop", "my site"});
        const Run names = runHalvik({"completion", "sites"});
        QCOMPARE(names.exitCode, 0);
        QStringList listed = names.out.split('\n', Qt::SkipEmptyParts);
        listed.sort();
        QCOMPARE(listed, QStringList({"blog", "my site", "shop"}));

        QTemporaryDir dir;
        const QString script = writeFile(dir, "halvik.bash", bashCompletion(commandTable()));
        QCOMPARE(bashCompletions(script, "halvik gi"), QStringList({"git"}));
        QCOMPARE(bashCompletions(script, "halvik im"), QStringList({"import", "import-all"}));
        QCOMPARE(bashCompletions(script, "halvik git l"), QStringList({"lines", "log"}));
        QCOMPARE(bashCompletions(script, "halvik git log blog --"), QStringList({"--json"}));
        QCOMPARE(bashCompletions(script, "halvik sites --j"), QStringList({"--json"}));
        QCOMPARE(bashCompletions(script, "halvik runtime --"), QStringList({"--json"}));
        QCOMPARE(bashCompletions(script, "halvik open "), QStringList({"blog", "my\\ site", "shop"}));
        QCOMPARE(bashCompletions(script, "halvik git status s"), QStringList({"shop"}));
        QCOMPARE(bashCompletions(script, "halvik git diff blog x --scope "),
                 QStringList({"included", "remaining"}));
        QCOMPARE(bashCompletions(script, "halvik accounts connect g"), QStringList({"github", "gitlab"}));
        QCOMPARE(bashCompletions(script, "halvik completion "),
                 QStringList({"bash", "fish", "sites", "zsh"}));
        QVERIFY(bashCompletions(script, "halvik help ").contains("check-update"));
    }

    // Zsh completes the same from its own script.
    void zshCompletesFromTheTableAndTheStore()
    {
        writeSites({"blog", "shop", "my site"});
        QTemporaryDir dir;
        const QString script = writeFile(dir, "_halvik", zshCompletion(commandTable()));
        QCOMPARE(zshCompletions(script, "halvik gi"), QStringList({"git"}));
        QCOMPARE(zshCompletions(script, "halvik git l"), QStringList({"lines", "log"}));
        QCOMPARE(zshCompletions(script, "halvik git log blog --"), QStringList({"--json"}));
        QCOMPARE(zshCompletions(script, "halvik open "), QStringList({"blog", "my site", "shop"}));
        QCOMPARE(zshCompletions(script, "halvik git diff blog x --scope "),
                 QStringList({"included", "remaining"}));
        QCOMPARE(zshCompletions(script, "halvik import "), QStringList({"<files>"}));
        QCOMPARE(zshCompletions(script, "halvik completion "), QStringList({"bash", "fish", "sites", "zsh"}));
    }

    // Fish completes the same from its own script.
    void fishCompletesFromTheTableAndTheStore()
    {
        writeSites({"blog", "shop"});
        QTemporaryDir dir;
        const QString script = writeFile(dir, "halvik.fish", fishCompletion(commandTable()));
        QCOMPARE(fishCompletions(script, "halvik gi"), QStringList({"git"}));
        QCOMPARE(fishCompletions(script, "halvik git l"), QStringList({"lines", "log"}));
        QVERIFY(fishCompletions(script, "halvik git log blog --").contains("--json"));
        QCOMPARE(fishCompletions(script, "halvik open "), QStringList({"blog", "shop"}));
        QCOMPARE(fishCompletions(script, "halvik git diff blog x --scope="),
                 QStringList({"--scope=included", "--scope=remaining"}));
    }

    void init() { QDir(AppDataDir::directory()).removeRecursively(); }
};

HALVIK_TEST_MAIN_CORE(CommandTableTest)
#include "tst_commandtable.moc"
