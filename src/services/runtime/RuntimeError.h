#pragma once

#include "async/HalvikError.h"

namespace halvik {

class RuntimeError : public HalvikError
{
public:
    enum class Case
    {
        nodeInstallFailed,
        phpInstallFailed,
        phpMissing,
        composerMissing
    };

    static RuntimeError nodeInstallFailed(const QString& message)
    {
        return {Case::nodeInstallFailed, message};
    }
    static RuntimeError phpInstallFailed(const QString& message) { return {Case::phpInstallFailed, message}; }
    static RuntimeError phpMissing()
    {
        return {Case::phpMissing,
                QStringLiteral("No PHP binary found. Bundle one with Scripts/download-runtime.sh "
                               "or install Laravel Herd or Valet.")};
    }
    static RuntimeError composerMissing()
    {
        return {Case::composerMissing,
                QStringLiteral(
                    "Composer is not available. Bundle composer.phar with Scripts/download-runtime.sh.")};
    }

    Case kind() const { return m_case; }

private:
    RuntimeError(Case kind, QString description) : HalvikError(std::move(description)), m_case(kind) {}
    Case m_case;
};

} // namespace halvik
