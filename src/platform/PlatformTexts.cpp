#include "PlatformTexts.h"

namespace halvik::PlatformTexts {

namespace {

struct Row
{
    Word word;
    const char* macOS;
    const char* linuxDesktop;
};

constexpr Row kRows[] = {
    {Word::showInFileManager, "Show in Finder", "Show in File Manager"},
    {Word::thisComputer, "this Mac", "this computer"},
    {Word::packageManager, "Homebrew", "your package manager"},
    {Word::gitNotFound, "Git was not found. Install Xcode Command Line Tools or Homebrew git.",
     "Git was not found. Install Git with your package manager."},
    {Word::githubCLIWithoutHomebrew,
     "Homebrew isn’t installed. Install the GitHub CLI from its web site, or paste a personal access token.",
     "Homebrew isn’t installed. Install the GitHub CLI with your package manager (sudo apt install gh), or "
     "paste a personal access token."},
    {Word::nodeMissing,
     "Node/npm was not found. Install Node for Halvik from Settings, or use Herd / Homebrew.",
     "Node/npm was not found. Install Node for Halvik from Settings, or install it with your package "
     "manager."},
    {Word::sharingToolMissing,
     "The sharing component is missing from this copy of Halvik. Reinstall Halvik to restore it.",
     "Sharing needs Cloudflare’s cloudflared tool, which isn’t installed on this computer. Install "
     "Cloudflare’s "
     "cloudflared package, or put the cloudflared program in ~/.local/bin, then retry."},
};

} // namespace

Platform current()
{
    return gitcore::GitProblemTexts::currentPlatform();
}

QString text(Word word, Platform platform)
{
    for (const Row& row : kRows)
        if (row.word == word)
            return QString::fromUtf8(platform == Platform::macOS ? row.macOS : row.linuxDesktop);
    return {};
}

gitcore::GitProblemText gitProblem(gitcore::GitRepositoryProblem::Kind kind, Platform platform)
{
    return gitcore::GitProblemTexts::forKind(kind, platform);
}

} // namespace halvik::PlatformTexts
