#pragma once

#include "async/HalvikError.h"
#include "platform/PlatformTexts.h"

namespace halvik {

class ViteDevServerError : public HalvikError
{
public:
    enum class Case
    {
        installFailed,
        startFailed,
        noDevScript,
        nodeMissing,
        alreadyRunning
    };

    static ViteDevServerError installFailed(const QString& message) { return {Case::installFailed, message}; }
    static ViteDevServerError startFailed(const QString& message) { return {Case::startFailed, message}; }
    static ViteDevServerError noDevScript()
    {
        return {Case::noDevScript,
                QStringLiteral("This site has no npm script for a frontend dev server (e.g. dev or hot).")};
    }
    static ViteDevServerError nodeMissing()
    {
        return {Case::nodeMissing, PlatformTexts::text(PlatformTexts::Word::nodeMissing)};
    }
    static ViteDevServerError alreadyRunning()
    {
        return {Case::alreadyRunning,
                QStringLiteral("The asset dev server is already running for this site.")};
    }

    Case kind() const { return m_case; }

private:
    ViteDevServerError(Case kind, QString description) : HalvikError(std::move(description)), m_case(kind) {}
    Case m_case;
};

} // namespace halvik
