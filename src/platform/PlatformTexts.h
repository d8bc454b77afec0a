#pragma once

#include "gitcore/GitProblemTexts.h"

#include <QString>

namespace halvik::PlatformTexts {

// The one table of words that name a macOS thing, with their Linux wording. Git's problem
// texts keep their own table in gitcore, keyed by the same platform value, and are reached
// from here so that screens ask one place.
using Platform = gitcore::GitTextPlatform;

// The desktop this build speaks to.
Platform current();

enum class Word
{
    showInFileManager,        // "Show in Finder"
    thisComputer,             // "this Mac"
    packageManager,           // "Homebrew"
    gitNotFound,              // the sentence shown when no Git can be run at all
    githubCLIWithoutHomebrew, // the GitHub CLI is missing and there is no Homebrew to install it
    nodeMissing,              // no Node/npm for the frontend dev server
    sharingToolMissing,       // no cloudflared to share a site with
};

QString text(Word word, Platform platform = current());

inline QString showInFileManager()
{
    return text(Word::showInFileManager);
}
inline QString thisComputer()
{
    return text(Word::thisComputer);
}
inline QString packageManager()
{
    return text(Word::packageManager);
}

gitcore::GitProblemText gitProblem(gitcore::GitRepositoryProblem::Kind kind, Platform platform = current());

} // namespace halvik::PlatformTexts
