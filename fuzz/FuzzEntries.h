#pragma once

// One entry function per fuzzed parser. Each takes raw bytes, runs the parser and checks what
// must hold for any input; it returns false when such a property is broken. The libFuzzer
// programs call them (and trap on false), and the normal test build replays the checked-in
// corpus through the same functions.

#include "gitcore/GitChangeSummarizer.h"
#include "gitcore/GitCommands.h"
#include "gitcore/GitParsers.h"
#include "gitcore/GitRemoteURL.h"
#include "gitcore/GitRepositorySnapshot.h"
#include "gitcore/NaturalCompare.h"
#include "gitcore/Redactor.h"
#include "gitcore/SourceControlProviderKind.h"
#include "models/StoreCodec.h"

#include <QRegularExpression>
#include <QSet>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace halvik::fuzz {

using namespace halvik::gitcore;

inline QString textOf(const uint8_t* data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

inline bool fuzzStatus(const uint8_t* data, size_t size)
{
    const auto result = GitParsers::parseStatusPorcelainV2(textOf(data, size));
    QSet<QString> seen;
    for (qsizetype i = 0; i < result.files.size(); ++i) {
        const auto& file = result.files[i];
        if (file.path.isEmpty() || seen.contains(file.path))
            return false;
        seen.insert(file.path);
        if (i > 0 && naturalCompare(result.files[i - 1].path, file.path) >= 0)
            return false;
        if (file.isConflicted && file.inclusion() != GitFileInclusion::conflicted)
            return false;
        (void)GitChangeSummarizer::label(file);
        (void)file.kindLabel();
    }
    (void)GitChangeSummarizer::suggestedMessage(result.files);
    return result.ahead >= 0 && result.behind >= 0;
}

inline bool fuzzLog(const uint8_t* data, size_t size)
{
    for (const auto& commit : GitParsers::parseLog(textOf(data, size))) {
        if (!commit.date.isValid())
            return false;
        for (const auto& file : commit.files) {
            if (file.isEmpty() || file.contains(QLatin1Char('\n')))
                return false;
        }
    }
    return true;
}

inline bool fuzzNameStatus(const uint8_t* data, size_t size)
{
    for (const auto& file : GitParsers::parseNameStatus(textOf(data, size))) {
        if (file.status.isEmpty() || file.status.contains(QLatin1Char(' ')))
            return false;
        (void)GitChangeSummarizer::label(file);
    }
    return true;
}

inline bool fuzzForEachRef(const uint8_t* data, size_t size)
{
    for (const auto& branch : GitParsers::parseForEachRef(textOf(data, size))) {
        if (branch.name.isEmpty() || branch.name.endsWith(QLatin1String("/HEAD")))
            return false;
        (void)branch.shortName();
        (void)GitCommands::isSafeRefName(branch.name);
    }
    return true;
}

inline bool fuzzStashList(const uint8_t* data, size_t size)
{
    for (const auto& stash : GitParsers::parseStashList(textOf(data, size))) {
        if (!stash.date.isValid())
            return false;
    }
    return true;
}

inline bool fuzzUnifiedDiff(const uint8_t* data, size_t size)
{
    // The first byte picks the path, so image and other paths are both explored.
    const QString path =
        size > 0 && (data[0] & 1) ? QStringLiteral("img/logo.png") : QStringLiteral("src/app.php");
    const auto diff = GitParsers::parseUnifiedDiff(textOf(data, size), path, GitDiffScope::remaining, true);
    if (diff.kind != GitDiffKind::text && !diff.hunks.isEmpty())
        return false;
    if (diff.kind == GitDiffKind::text && diff.lineCount > GitCommands::maxDiffLines)
        return false;
    // Hunks apply unless a file was renamed or copied: such a hunk's patch would carry the move.
    const QString text = textOf(data, size);
    const bool moved =
        text.startsWith(QLatin1String("rename from ")) || text.startsWith(QLatin1String("copy from ")) ||
        text.contains(QLatin1String("\nrename from ")) || text.contains(QLatin1String("\ncopy from "));
    int previousId = -1;
    for (const auto& hunk : diff.hunks) {
        if (!hunk.header.startsWith(QLatin1String("@@ ")) || (!hunk.canApply && !moved))
            return false;
        for (const auto& line : hunk.lines) {
            if (line.id <= previousId)
                return false;
            previousId = line.id;
            const bool numbersFit =
                line.kind == GitDiffLine::Kind::addition   ? (!line.oldNumber && line.newNumber)
                : line.kind == GitDiffLine::Kind::deletion ? (line.oldNumber && !line.newNumber)
                : line.kind == GitDiffLine::Kind::meta     ? (!line.oldNumber && !line.newNumber)
                                                           : (line.oldNumber && line.newNumber);
            if (!numbersFit || line.text.isEmpty())
                return false;
        }
        if (!diff.patch(hunk).endsWith(QLatin1Char('\n')))
            return false;
    }
    return true;
}

inline bool fuzzHunkHeader(const uint8_t* data, size_t size)
{
    const auto range = GitParsers::parseHunkHeader(textOf(data, size));
    (void)GitParsers::parseDiffPaths(textOf(data, size));
    return range.oldStart >= 0 && range.oldCount >= 0 && range.newStart >= 0 && range.newCount >= 0;
}

inline bool fuzzRedactSecrets(const uint8_t* data, size_t size)
{
    const QString text = textOf(data, size);
    const QString redacted = Redactor::redact(text);
    (void)GitRepositoryProblem(text);
    // Nothing is left to take out: a second pass changes nothing, and no URL keeps a password.
    static const QRegularExpression urlCredential(QStringLiteral("https?://[^/\\s:@]+:[^/\\s@]+@"));
    return Redactor::redact(redacted) == redacted && !urlCredential.match(redacted).hasMatch();
}

// store.json as anyone may have left it: a document either fails whole with StoreDecodeError
// or reads back unchanged after being written out.
inline bool fuzzStoreJson(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    StoreDocument document;
    try {
        document = StoreCodec::decode(bytes);
    } catch (const StoreDecodeError&) {
        return true;
    }
    try {
        return StoreCodec::decode(StoreCodec::encode(document)) == document;
    } catch (const StoreDecodeError&) {
        return false;
    }
}

inline bool fuzzRemoteURL(const uint8_t* data, size_t size)
{
    const QString url = textOf(data, size);
    const QString sanitized = GitRemoteURL::sanitize(url);
    (void)GitRemoteURL::githubRepo(url);
    (void)GitRemoteURL::originRepo(url);
    (void)GitRemoteURL::commitURL(url, QStringLiteral("abc"));
    (void)SourceControlProviderKind::fromRemoteURL(url);
    GitStatus status;
    status.remoteURL = url;
    (void)status.remoteDisplayName();
    (void)status.githubURL();
    // A sanitised URL that parses carries no password any more.
    const QUrl parsed(sanitized, QUrl::StrictMode);
    return !(parsed.isValid() && !parsed.host().isEmpty() && !parsed.password().isEmpty());
}

struct FuzzTarget
{
    std::string_view name;
    bool (*run)(const uint8_t*, size_t);
};

inline constexpr FuzzTarget kFuzzTargets[] = {
    {"status", fuzzStatus},          {"log", fuzzLog},
    {"name-status", fuzzNameStatus}, {"for-each-ref", fuzzForEachRef},
    {"stash-list", fuzzStashList},   {"unified-diff", fuzzUnifiedDiff},
    {"hunk-header", fuzzHunkHeader}, {"redact-secrets", fuzzRedactSecrets},
    {"remote-url", fuzzRemoteURL},   {"store-json", fuzzStoreJson},
};

inline const FuzzTarget* fuzzTarget(std::string_view name)
{
    for (const auto& target : kFuzzTargets) {
        if (target.name == name)
            return &target;
    }
    return nullptr;
}

} // namespace halvik::fuzz
