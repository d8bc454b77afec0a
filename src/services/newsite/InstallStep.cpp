#include "InstallStep.h"

#include <array>

namespace halvik::InstallSteps {

namespace {

struct StepInfo
{
    InstallStep step;
    const char* raw;
    double base;
    const char* label;
};

constexpr std::array<StepInfo, 8> steps{{
    {InstallStep::download, "download", 0.05, "Downloading Quillmar…"},
    {InstallStep::dependencies, "dependencies", 0.15, "Installing dependencies…"},
    {InstallStep::starterKit, "starterKit", 0.55, "Installing starter kit…"},
    {InstallStep::configure, "configure", 0.75, "Configuring site…"},
    {InstallStep::createUser, "createUser", 0.85, "Creating super user…"},
    {InstallStep::linkHerd, "linkHerd", 0.9, "Linking site…"},
    {InstallStep::git, "git", 0.95, "Initializing git…"},
    {InstallStep::done, "done", 1.0, "Done"},
}};

const StepInfo& info(InstallStep step)
{
    return steps[std::size_t(step)];
}

} // namespace

QString toRaw(InstallStep step)
{
    return QString::fromLatin1(info(step).raw);
}

std::optional<InstallStep> fromRaw(const QString& raw)
{
    for (const StepInfo& s : steps)
        if (raw == QLatin1String(s.raw))
            return s.step;
    return std::nullopt;
}

double baseFraction(InstallStep step)
{
    return info(step).base;
}

QString label(InstallStep step)
{
    return QString::fromUtf8(info(step).label);
}

} // namespace halvik::InstallSteps
