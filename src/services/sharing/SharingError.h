#pragma once

#include "async/HalvikError.h"
#include "platform/PlatformTexts.h"

namespace halvik {

class SharingError : public HalvikError
{
public:
    enum class Case
    {
        missingEntryPoint,
        preparationFailed,
        toolMissing,
        siteDoesNotAnswer,
        tunnelTimeout,
        localServerExited,
        toolExited
    };

    static SharingError missingEntryPoint()
    {
        return {Case::missingEntryPoint, QStringLiteral("This site’s public entry point is missing. Restore "
                                                        "public/index.php before sharing.")};
    }
    static SharingError preparationFailed(const QString& message)
    {
        return {Case::preparationFailed, message};
    }
    static SharingError toolMissing()
    {
        return {Case::toolMissing, PlatformTexts::text(PlatformTexts::Word::sharingToolMissing)};
    }
    static SharingError siteDoesNotAnswer()
    {
        return {
            Case::siteDoesNotAnswer,
            QStringLiteral("The site couldn’t start for sharing. Check that it opens locally, then retry.")};
    }
    static SharingError tunnelTimeout()
    {
        return {Case::tunnelTimeout, QStringLiteral("Cloudflare didn’t connect within 60 seconds. Check your "
                                                    "connection and try again.")};
    }
    static SharingError localServerExited()
    {
        return {Case::localServerExited,
                QStringLiteral("The shared site’s server stopped. Retry to restart sharing.")};
    }
    static SharingError toolExited()
    {
        return {Case::toolExited, QStringLiteral("Sharing disconnected. Retry to create a new link.")};
    }

    Case kind() const { return m_case; }

private:
    SharingError(Case kind, QString description) : HalvikError(std::move(description)), m_case(kind) {}
    Case m_case;
};

} // namespace halvik
