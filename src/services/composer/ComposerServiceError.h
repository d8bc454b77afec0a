#pragma once

#include "async/HalvikError.h"

#include <optional>

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
    // A run that exited with `exitCode`.
    static ComposerServiceError failed(const QString& sentence, const QString& output, int exitCode)
    {
        ComposerServiceError error{Case::failed, sentence, output};
        error.m_exitCode = exitCode;
        return error;
    }
    static ComposerServiceError invalidJSON()
    {
        return {Case::invalidJSON, QStringLiteral("Composer returned data that could not be parsed.")};
    }

    Case kind() const { return m_case; }
    // The run's whole output where there was one, for advice that looks at all of it.
    QString output() const { return m_output.isEmpty() ? description() : m_output; }
    // What the run printed (redacted), empty when it printed nothing.
    const QString& printed() const { return m_output; }
    // The exit status of the run that failed, when one ran to its end.
    std::optional<int> exitCode() const { return m_exitCode; }

private:
    ComposerServiceError(Case kind, QString description, QString output = {})
        : HalvikError(std::move(description)), m_case(kind), m_output(std::move(output))
    {
    }
    Case m_case;
    QString m_output;
    std::optional<int> m_exitCode;
};

} // namespace halvik
