#pragma once

#include "async/HalvikError.h"

namespace halvik {

class HerdError : public HalvikError
{
public:
    enum class Case
    {
        cliMissing,
        commandFailed
    };

    // `name` is "Herd" or "Valet".
    static HerdError cliMissing(const QString& name)
    {
        return {Case::cliMissing, name + QStringLiteral(" CLI was not found.")};
    }
    // The command's combined output, shown as it is.
    static HerdError commandFailed(const QString& message) { return {Case::commandFailed, message}; }

    Case kind() const { return m_case; }

private:
    HerdError(Case kind, QString description) : HalvikError(std::move(description)), m_case(kind) {}
    Case m_case;
};

} // namespace halvik
