#include "gitcore/GitCommands.h"

#include <QDir>
#include <QFileInfo>
#include <QStringView>

#include <initializer_list>

namespace halvik::gitcore {

namespace {

bool containsAny(const QString& output, std::initializer_list<const char*> needles)
{
    const QString text = output.toLower();
    for (const char* needle : needles) {
        if (text.contains(QLatin1String(needle)))
            return true;
    }
    return false;
}

bool isRefCharacter(char32_t c)
{
    if (c == U'-' || c == U'_' || c == U'.' || c == U'/')
        return true;
    if (QChar::isLetterOrNumber(c))
        return true;
    const auto category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
           category == QChar::Mark_Enclosing;
}

} // namespace

QMap<QString, QString> GitCommands::quietEnvironment()
{
    return {{QStringLiteral("GIT_TERMINAL_PROMPT"), QStringLiteral("0")},
            {QStringLiteral("GIT_ASKPASS"), QStringLiteral("/usr/bin/true")},
            {QStringLiteral("SSH_ASKPASS"), QStringLiteral("/usr/bin/true")},
            {QStringLiteral("GCM_INTERACTIVE"), QStringLiteral("never")}};
}

QStringList GitCommands::quietArguments(const QStringList& args)
{
    QStringList result{QStringLiteral("-c"), QStringLiteral("credential.helper="), QStringLiteral("-c"),
                       QStringLiteral("core.askPass=")};
    result += args;
    return result;
}

QStringList GitCommands::readArguments(const QStringList& args)
{
    QStringList result{QStringLiteral("-c"), QStringLiteral("core.fsmonitor=false")};
    result += args;
    return result;
}

QStringList GitCommands::diffOptions()
{
    return {QStringLiteral("--no-ext-diff"), QStringLiteral("--no-textconv"), QStringLiteral("--no-color")};
}

QMap<QString, QString> GitCommands::environment(const QString& sitePath)
{
    const QFileInfo info(sitePath);
    QString resolved = info.canonicalFilePath();
    if (resolved.isEmpty())
        resolved = QDir::cleanPath(info.absoluteFilePath());
    auto env = quietEnvironment();
    env.insert(QStringLiteral("GIT_CEILING_DIRECTORIES"), QFileInfo(resolved).path());
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.insert(QStringLiteral("GIT_LITERAL_PATHSPECS"), QStringLiteral("1"));
    env.insert(QStringLiteral("GIT_CONFIG_COUNT"), QStringLiteral("1"));
    env.insert(QStringLiteral("GIT_CONFIG_KEY_0"), QStringLiteral("core.quotePath"));
    env.insert(QStringLiteral("GIT_CONFIG_VALUE_0"), QStringLiteral("false"));
    return env;
}

QStringList GitCommands::removedEnvironment()
{
    return {QStringLiteral("LANGUAGE")};
}

QMap<QString, QString> GitCommands::readEnvironment()
{
    // GIT_FLUSH=0: Git writes its output in full buffers even into a pipe, instead of one
    // write (and one wake-up of the reader) per record.
    return {{QStringLiteral("GIT_OPTIONAL_LOCKS"), QStringLiteral("0")},
            {QStringLiteral("GIT_FLUSH"), QStringLiteral("0")}};
}

QStringList GitCommands::sanitizePaths(const QStringList& paths)
{
    QStringList result;
    result.reserve(paths.size());
    for (const QString& path : paths) {
        const QString trimmed = path.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('-')) || trimmed.contains(QChar(u'\0')))
            continue;
        result.append(trimmed);
    }
    return result;
}

bool GitCommands::isSafeRefName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('-')) || name.startsWith(QLatin1Char('/')) ||
        name.endsWith(QLatin1Char('/')))
        return false;
    for (const char* banned : {"..", "//", "\\", "@{"}) {
        if (name.contains(QLatin1String(banned)))
            return false;
    }
    for (char32_t c : name.toUcs4()) {
        if (!isRefCharacter(c))
            return false;
    }
    return true;
}

QStringList GitCommands::statusPorcelainV2()
{
    return {QStringLiteral("status"), QStringLiteral("--porcelain=v2"), QStringLiteral("-z"),
            QStringLiteral("--branch"), QStringLiteral("--untracked-files=all")};
}

QStringList GitCommands::statusTrackedPorcelainV2()
{
    return {QStringLiteral("status"), QStringLiteral("--porcelain=v2"), QStringLiteral("-z"),
            QStringLiteral("--branch"), QStringLiteral("--untracked-files=no")};
}

QStringList GitCommands::untrackedFiles()
{
    return {QStringLiteral("ls-files"), QStringLiteral("--others"), QStringLiteral("--exclude-standard"),
            QStringLiteral("-z")};
}

QStringList GitCommands::stage(const QStringList& paths)
{
    return QStringList{QStringLiteral("add"), QStringLiteral("--")} + sanitizePaths(paths);
}

QStringList GitCommands::unstage(const QStringList& paths)
{
    return QStringList{QStringLiteral("restore"), QStringLiteral("--staged"), QStringLiteral("--")} +
           sanitizePaths(paths);
}

QStringList GitCommands::addAll()
{
    return {QStringLiteral("add"), QStringLiteral("-A")};
}

QStringList GitCommands::hasStagedChanges(const QStringList& paths)
{
    QStringList arguments{QStringLiteral("diff"), QStringLiteral("--cached"), QStringLiteral("--quiet"),
                          QStringLiteral("--no-ext-diff"), QStringLiteral("--no-textconv")};
    if (!paths.isEmpty())
        arguments << QStringLiteral("--") << sanitizePaths(paths);
    return arguments;
}

QStringList GitCommands::commitStaged(const QString& message)
{
    return {QStringLiteral("commit"), QStringLiteral("-m"), message};
}

QStringList GitCommands::commitOnly(const QString& message, const QStringList& paths)
{
    return QStringList{QStringLiteral("commit"), QStringLiteral("--only"), QStringLiteral("-m"), message,
                       QStringLiteral("--")} +
           sanitizePaths(paths);
}

QStringList GitCommands::applyCached()
{
    return {QStringLiteral("apply"), QStringLiteral("--cached"), QStringLiteral("--unidiff-zero"),
            QStringLiteral("--recount"), QStringLiteral("-")};
}

QStringList GitCommands::applyCachedReverse()
{
    return {QStringLiteral("apply"),          QStringLiteral("--cached"),  QStringLiteral("--reverse"),
            QStringLiteral("--unidiff-zero"), QStringLiteral("--recount"), QStringLiteral("-")};
}

QStringList GitCommands::applyReverse()
{
    return {QStringLiteral("apply"), QStringLiteral("--reverse"), QStringLiteral("--unidiff-zero"),
            QStringLiteral("--recount"), QStringLiteral("-")};
}

const QSet<QString>& GitCommands::imageExtensions()
{
    static const QSet<QString> extensions{
        QStringLiteral("png"),  QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("gif"),
        QStringLiteral("webp"), QStringLiteral("tiff"), QStringLiteral("tif"),  QStringLiteral("bmp"),
        QStringLiteral("heic"), QStringLiteral("ico")};
    return extensions;
}

bool GitCommands::isImagePath(const QString& path)
{
    const QStringView name = QStringView(path).mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot names a hidden file, not an extension.
    if (dot <= 0)
        return false;
    return imageExtensions().contains(name.mid(dot + 1).toString().toLower());
}

bool GitCommands::looksLikeConflict(const QString& output)
{
    return containsAny(output, {"conflict", "could not apply", "needs merge", "unmerged"});
}

bool GitCommands::looksLikeNeedsPull(const QString& output)
{
    return containsAny(output, {"non-fast-forward", "fetch first", "updates were rejected",
                                "tip of your current branch is behind"});
}

bool GitCommands::looksLikeMergeConflict(const QString& output)
{
    return containsAny(output, {"conflict (", "merge conflict in"});
}

bool GitCommands::looksLikeAutostashConflict(const QString& output)
{
    return containsAny(output, {"applying autostash resulted in conflicts"});
}

bool GitCommands::looksLikeDirtySwitch(const QString& output)
{
    return containsAny(output, {"local changes", "would be overwritten", "uncommitted changes",
                                "please commit your changes or stash"});
}

} // namespace halvik::gitcore
