#pragma once

#include "async/HalvikError.h"

namespace halvik {

class SiteCloneError : public HalvikError
{
public:
    enum class Case
    {
        copyFailed,
        sourceMissing,
        destinationExists
    };

    static SiteCloneError copyFailed(const QString& message) { return {Case::copyFailed, message}; }
    static SiteCloneError sourceMissing()
    {
        return {Case::sourceMissing, QStringLiteral("The source site folder no longer exists.")};
    }
    static SiteCloneError destinationExists()
    {
        return {Case::destinationExists, QStringLiteral("A folder already exists at that path.")};
    }
    Case kind() const { return m_case; }

private:
    SiteCloneError(Case kind, QString description) : HalvikError(std::move(description)), m_case(kind) {}
    Case m_case;
};

} // namespace halvik
