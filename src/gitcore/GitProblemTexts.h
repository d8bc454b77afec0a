#pragma once

#include "gitcore/GitRepositoryProblem.h"

#include <QString>

#include <optional>

namespace halvik::gitcore {

// The words shown for a repository problem. On macOS they name Xcode and Homebrew; elsewhere
// they name the system's package manager instead. The kinds and their classification are the
// same everywhere; only this table differs.
struct GitProblemText
{
    QString title;
    QString message;
    std::optional<QString> recoveryCommand;

    bool operator==(const GitProblemText&) const = default;
};

enum class GitTextPlatform
{
    macOS,
    linuxDesktop
};

class GitProblemTexts
{
public:
    // The desktop this build speaks to. The platform layer's word table (PlatformTexts) takes
    // its value from here, so both tables always speak for the same desktop.
    static GitTextPlatform currentPlatform();
    static GitProblemText forKind(GitRepositoryProblem::Kind kind,
                                  GitTextPlatform platform = currentPlatform());
};

} // namespace halvik::gitcore
