#pragma once

#include "async/HalvikError.h"

namespace halvik {

class ProcessRunnerError : public HalvikError
{
public:
    enum class Case
    {
        executableMissing,
        failedToStart,
        cancelled
    };

    static ProcessRunnerError executableMissing(const QString& path)
    {
        return {Case::executableMissing, QStringLiteral("Executable not found: ") + path};
    }
    static ProcessRunnerError failedToStart(const QString& detail)
    {
        return {Case::failedToStart, QStringLiteral("Failed to start process: ") + detail};
    }
    static ProcessRunnerError cancelled()
    {
        return {Case::cancelled, QStringLiteral("Process was cancelled")};
    }

    Case kind() const { return m_case; }
    bool isCancelled() const { return m_case == Case::cancelled; }

private:
    ProcessRunnerError(Case kind, QString description) : HalvikError(std::move(description)), m_case(kind) {}
    Case m_case;
};

} // namespace halvik
