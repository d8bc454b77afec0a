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
    // `sentence` is what the person reads; `output` is everything the run printed (redacted).
    static ComposerServiceError failed(const QString& sentence, const QString& output)
    {
        return {Case::failed, sentence, output};
    }
    static ComposerServiceError invalidJSON()
    {
        return {Case::invalidJSON, QStringLiteral("Composer returned data that could not be parsed.")};
    }

    Case kind() const { return m_case; }
    // The run's whole output where there was one, for advice that looks at all of it.
    QString output() const { return m_output.isEmpty() ? description() : m_output; }

private:
    ComposerServiceError(Case kind, QString description, QString output = {})
        : HalvikError(std::move(description)), m_case(kind), m_output(std::move(output))
    {
    }
    Case m_case;
    QString m_output;
};

} // namespace halvik
