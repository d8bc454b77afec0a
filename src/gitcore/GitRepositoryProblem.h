#pragma once

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
    static QString toRaw(Kind kind);
    static std::optional<Kind> fromRaw(const QString& raw);
};

} // namespace halvik::gitcore
