#include "TestMain.h"

#include "app/SidebarSection.h"
#include "gitcore/GitDiff.h"
#include "gitcore/GitEnums.h"
#include "gitcore/GitRepositoryProblem.h"
#include "gitcore/SourceControlProviderKind.h"
#include "models/AppPreferences.h"
#include "models/Enums.h"
#include "services/LocalDevEngine.h"

#include <QSet>

using namespace halvik;
using namespace halvik::gitcore;

namespace {

// Every case goes to its raw value and back; the raw values are the ones files and scripts
// already hold; nothing else, not even a near miss, reads as a case.
template <typename E> void checkRawValues(const QStringList& persisted)
{
    QStringList raws;
    for (E value : allCases<E>()) {
        const QString raw = toRaw(value);
        raws << raw;
        QCOMPARE(fromRaw<E>(raw), std::optional<E>(value));
        QCOMPARE(fromRaw<E>(raw.toUpper()), std::nullopt);
        QCOMPARE(fromRaw<E>(raw + QLatin1Char(' ')), std::nullopt);
        QCOMPARE(fromRaw<E>(raw.chopped(1)), std::nullopt);
    }
    QCOMPARE(raws, persisted);
    QCOMPARE(QSet<QString>(raws.cbegin(), raws.cend()).size(), raws.size());
    QCOMPARE(fromRaw<E>(u""), std::nullopt);
    QCOMPARE(fromRaw<E>(u"unknownFutureCase"), std::nullopt);
}

template <typename E> QStringList titles()
{
    QStringList out;
    for (E value : allCases<E>())
        out << title(value);
    return out;
}

// Enumerations numbered from zero without gaps, listed in declaration order.
template <typename E> bool tableFollowsDeclarationOrder()
{
    const auto cases = allCases<E>();
    for (std::size_t i = 0; i < cases.size(); ++i)
        if (static_cast<std::size_t>(cases[i]) != i)
            return false;
    return true;
}

} // namespace

class EnumsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyPersistedOrShownEnumerationRoundTrips()
    {
        checkRawValues<PHPSource>({"automatic", "managed", "herd"});
        checkRawValues<HostProviderKind>({"forge", "laravelCloud", "netlify", "cloudflarePages"});
        checkRawValues<SourceControlProvider>({"github", "gitlab", "bitbucket", "origin"});
        checkRawValues<OperationKind>({"createProject", "composer", "artisan", "keffin", "shell", "git",
                                       "deploy", "serve", "selfUpdate"});
        checkRawValues<ListSortOrder>({"name", "newest", "oldest"});
        checkRawValues<AppearancePreference>({"system", "light", "dark"});
        checkRawValues<LocalDevEngine>({"herd", "valet"});
        checkRawValues<ResolvedPHPSource>({"isolated", "herdGlobal", "managed", "system"});
        checkRawValues<SidebarSection>({"sites", "hosts", "sourceControl", "environment", "settings"});
        checkRawValues<GitIdentityScope>({"local", "global"});
        checkRawValues<GitFileInclusion>({"included", "remaining", "mixed", "conflicted"});
        checkRawValues<GitDiffScope>({"included", "remaining", "commit"});
        checkRawValues<GitListTab>({"changes", "history"});
        checkRawValues<GitBusyKind>({"none", "local", "network"});
        checkRawValues<GitDiffKind>({"text", "binary", "image", "empty", "missing", "tooLarge"});
        checkRawValues<GitHunkAction>({"include", "exclude", "discard"});
        checkRawValues<GitDiffLine::Kind>({"context", "addition", "deletion", "meta"});
        checkRawValues<GitRepositoryProblem::Kind>(
            {"missingGit", "xcodeLicense", "developerTools", "inaccessible"});
        checkRawValues<SourceControlProviderKind>({"github", "gitlab", "bitbucket", "origin"});

        // Pickers list the cases in declaration order.
        QVERIFY(tableFollowsDeclarationOrder<OperationKind>());
        QVERIFY(tableFollowsDeclarationOrder<SidebarSection>());
        QVERIFY(tableFollowsDeclarationOrder<GitDiffKind>());
        QVERIFY(tableFollowsDeclarationOrder<AppearancePreference>());

        // The member spellings some callers use agree with the generic ones.
        for (auto kind : allCases<GitRepositoryProblem::Kind>())
            QCOMPARE(GitRepositoryProblem::fromRaw(GitRepositoryProblem::toRaw(kind)), std::optional(kind));
    }

    void shownEnumerationsHaveTheirTitles()
    {
        QCOMPARE(titles<SidebarSection>(),
                 QStringList({"Sites", "Hosts", "Source Control", "Environment", "Settings"}));
        QCOMPARE(titles<GitDiffScope>(), QStringList({"Included", "Remaining", "Commit"}));
        QCOMPARE(titles<GitListTab>(), QStringList({"Changes", "History"}));
        QCOMPARE(titles<LocalDevEngine>(), QStringList({"Herd", "Valet"}));
        QCOMPARE(titles<SourceControlProvider>(),
                 QStringList({"GitHub", "GitLab", "Bitbucket", "Cursor Origin"}));
        QCOMPARE(titles<GitHunkAction>(), QStringList({"Include", "Exclude", "Discard"}));
        QCOMPARE(engineDisplayName(LocalDevEngine::valet), QString("Valet"));
    }

    void hostingProvidersMeanTheSameOnBothSides()
    {
        // A remote's provider becomes a source-control account's provider through its raw value.
        for (SourceControlProviderKind kind : allCases<SourceControlProviderKind>()) {
            const auto provider = fromRaw<SourceControlProvider>(toRaw(kind));
            QVERIFY2(provider.has_value(), qPrintable(toRaw(kind)));
            QCOMPARE(int(*provider), int(SourceControlProviderKind::Value(kind)));
        }
        QCOMPARE(allCases<SourceControlProviderKind>().size(), allCases<SourceControlProvider>().size());
    }
};

HALVIK_TEST_MAIN_CORE(EnumsTest)
#include "tst_enums.moc"
