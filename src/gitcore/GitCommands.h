#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

namespace halvik::gitcore {

// The fixed argument lists and environment of every Git invocation. Nothing here runs Git.
class GitCommands
{
public:
    // Variables added to every Git child so that it never prompts.
    static QMap<QString, QString> quietEnvironment();
    // "-c credential.helper= -c core.askPass=" followed by `args`.
    static QStringList quietArguments(const QStringList& args);
    // quietEnvironment() plus GIT_CEILING_DIRECTORIES set to the site folder's parent (symbolic
    // links resolved), so Git never treats a site as part of a repository around it.
    // Also: messages in English whatever the desktop's language (LC_ALL=C, see
    // removedEnvironment), paths taken literally (never as patterns) and printed unquoted.
    static QMap<QString, QString> environment(const QString& sitePath);
    // Removed from every Git child's environment: LANGUAGE would otherwise still pick the
    // language of Git's messages.
    static QStringList removedEnvironment();
    // Added for reads, which then never take the index lock a write needs, and write their
    // output in full buffers.
    static QMap<QString, QString> readEnvironment();

    // A read Halvik starts by itself runs no program the repository's own configuration names:
    // "-c core.fsmonitor=false" followed by `args`. (Diffs also take diffOptions().)
    static QStringList readArguments(const QStringList& args);
    // Options for every diff Halvik parses: Git's own diff, never an external diff program or
    // a text conversion the repository configures.
    static QStringList diffOptions();

    // Trimmed paths, without empty ones, option look-alikes ("-…") and NUL-carrying ones.
    static QStringList sanitizePaths(const QStringList& paths);
    static bool isSafeRefName(const QString& name);

    static QStringList statusPorcelainV2();
    // The same status without untracked files, and the untracked files on their own (NUL
    // separated): together they say what statusPorcelainV2() says, and can run side by side.
    static QStringList statusTrackedPorcelainV2();
    static QStringList untrackedFiles();
    static QStringList stage(const QStringList& paths);
    static QStringList unstage(const QStringList& paths);
    static QStringList addAll();
    // Exits 1 when the index differs from HEAD (or, with paths, does so for them), 0 when not;
    // works before the first commit too, and never scans the working tree.
    static QStringList hasStagedChanges(const QStringList& paths = {});
    static QStringList commitStaged(const QString& message);
    static QStringList commitOnly(const QString& message, const QStringList& paths);
    // The three apply lists read the patch from standard input.
    static QStringList applyCached();
    static QStringList applyCachedReverse();
    static QStringList applyReverse();

    static const QSet<QString>& imageExtensions();
    static bool isImagePath(const QString& path);

    // Diffs larger than this are not parsed.
    static constexpr int maxDiffBytes = 400000;
    static constexpr int maxDiffLines = 4000;

    static bool looksLikeConflict(const QString& output);
    static bool looksLikeNeedsPull(const QString& output);
    static bool looksLikeDirtySwitch(const QString& output);
    // Files were left with conflict markers ("CONFLICT (content): …").
    static bool looksLikeMergeConflict(const QString& output);
    // A pull went through but re-applying the changes it had set aside conflicted.
    static bool looksLikeAutostashConflict(const QString& output);
};

} // namespace halvik::gitcore
