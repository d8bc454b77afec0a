#include "gitcore/GitProblemTexts.h"

namespace halvik::gitcore {

namespace {

using Kind = GitRepositoryProblem::Kind;

const QString kReadStatusTitle = QStringLiteral("Can’t read Git status");
const QString kReadStatusMessage = QStringLiteral(
    "Git couldn’t check this site. Review the error details, resolve the problem, then retry.");

GitProblemText macText(Kind kind)
{
    switch (kind) {
    case Kind::missingGit:
        return {QStringLiteral("Git isn’t installed"),
                QStringLiteral("Install Xcode Command Line Tools or Homebrew Git, then retry."),
                QStringLiteral("xcode-select --install")};
    case Kind::xcodeLicense:
        return {
            QStringLiteral("Git needs the Xcode license accepted"),
            QStringLiteral("Open Xcode to review and accept its license, then retry. You can also review it "
                           "in Terminal:"),
            QStringLiteral("sudo xcodebuild -license")};
    case Kind::developerTools:
        return {QStringLiteral("Git needs developer tools"),
                QStringLiteral("Open Xcode and finish setup, or install Command Line Tools, then retry."),
                QStringLiteral("xcode-select --install")};
    case Kind::inaccessible:
        break;
    }
    return {kReadStatusTitle, kReadStatusMessage, std::nullopt};
}

GitProblemText linuxText(Kind kind)
{
    switch (kind) {
    case Kind::missingGit:
        return {QStringLiteral("Git isn’t installed"),
                QStringLiteral("Install Git with your system’s package manager, then retry."),
                QStringLiteral("sudo apt install git")};
    case Kind::xcodeLicense:
        return {QStringLiteral("Git needs a license accepted"),
                QStringLiteral(
                    "Review and accept the license your developer tools ask for, then retry. The error "
                    "details name it."),
                std::nullopt};
    case Kind::developerTools:
        return {QStringLiteral("Git needs developer tools"),
                QStringLiteral("Install Git and the developer tools with your system’s package manager, then "
                               "retry."),
                QStringLiteral("sudo apt install git")};
    case Kind::inaccessible:
        break;
    }
    return {kReadStatusTitle, kReadStatusMessage, std::nullopt};
}

} // namespace

GitTextPlatform GitProblemTexts::currentPlatform()
{
#ifdef Q_OS_MACOS
    return GitTextPlatform::macOS;
#else
    return GitTextPlatform::linuxDesktop;
#endif
}

GitProblemText GitProblemTexts::forKind(Kind kind, GitTextPlatform platform)
{
    return platform == GitTextPlatform::macOS ? macText(kind) : linuxText(kind);
}

} // namespace halvik::gitcore
