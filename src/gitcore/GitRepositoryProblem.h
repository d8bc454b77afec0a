#pragma once

#include "gitcore/EnumTable.h"

#include <QString>

#include <optional>

namespace halvik::gitcore {

// Why Git cannot be used for a folder, with what Git printed (secrets redacted).
struct GitRepositoryProblem
{
    enum class Kind
    {
        missingGit,
        xcodeLicense,
        developerTools,
        inaccessible
    };

    Kind kind = Kind::inaccessible;
    QString details;

    GitRepositoryProblem() = default;
    // Classifies Git's output; the stored details are redacted.
    explicit GitRepositoryProblem(const QString& details);
    // Takes the kind as given; the stored details are redacted.
    GitRepositoryProblem(Kind kind, const QString& details);

    bool operator==(const GitRepositoryProblem&) const = default;

    QString title() const;
    QString message() const;
    std::optional<QString> recoveryCommand() const;

    static Kind classify(const QString& details);
    // The generic toRaw/fromRaw, under the record's name for callers that spell it so.
    static QString toRaw(Kind kind);
    static std::optional<Kind> fromRaw(const QString& raw);
};

constexpr auto enumCases(std::type_identity<GitRepositoryProblem::Kind>)
{
    using Kind = GitRepositoryProblem::Kind;
    return std::to_array<EnumCase<Kind>>({{Kind::missingGit, "missingGit"},
                                          {Kind::xcodeLicense, "xcodeLicense"},
                                          {Kind::developerTools, "developerTools"},
                                          {Kind::inaccessible, "inaccessible"}});
}

} // namespace halvik::gitcore
