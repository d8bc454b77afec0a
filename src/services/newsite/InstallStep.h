#pragma once

#include <QString>

#include <optional>

namespace halvik {

// The stages of a new-site installation, in order.
enum class InstallStep
{
    download,
    dependencies,
    starterKit,
    configure,
    createUser,
    linkHerd,
    git,
    done
};

namespace InstallSteps {
QString toRaw(InstallStep step);
std::optional<InstallStep> fromRaw(const QString& raw);
// Where the progress bar stands when the step begins.
double baseFraction(InstallStep step);
// What the overview shows for the step.
QString label(InstallStep step);
} // namespace InstallSteps

} // namespace halvik
