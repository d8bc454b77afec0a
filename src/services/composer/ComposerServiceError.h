#pragma once

#include "async/HalvikError.h"

namespace halvik {

class ComposerServiceError : public HalvikError
{
public:
    enum class Case
    {
        failed,
        invalidJSON
    };

    static ComposerServiceError failed(const QString& message) { return {Case::failed, message}; }
    static ComposerServiceError invalidJSON()
    {
        return {Case::invalidJSON, QStringLiteral("Composer returned data that could not be parsed.")};
    }

    Case kind() const { return m_case; }

private:
    ComposerServiceError(Case kind, QString description) : HalvikError(std::move(description)), m_case(kind)
    {
    }
    Case m_case;
};

} // namespace halvik
