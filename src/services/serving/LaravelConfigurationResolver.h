#pragma once

#include "async/HalvikError.h"

#include <QCoroTask>
#include <QMap>
#include <QString>

namespace halvik {

class ProcessRunner;

class LaravelConfigurationError : public HalvikError
{
public:
    using HalvikError::HalvikError;
};

// Asks a site for one of its configuration values by booting its console kernel with PHP.
// Only the keys Halvik needs are allowed: the control panel's route and the static-site
// output folder.
class LaravelConfigurationResolver
{
public:
    explicit LaravelConfigurationResolver(ProcessRunner& runner) : m_runner(runner) {}

    // Throws LaravelConfigurationError (or the runner's errors when PHP cannot be started).
    QCoro::Task<QString> string(QString setting, QString siteFolder, QString php,
                                QMap<QString, QString> environment = {});

    // The value after the last "HALVIK_CONFIGURATION:" line of the output, if it decodes.
    static std::optional<QString> valueFrom(const QString& output);

private:
    ProcessRunner& m_runner;
};

} // namespace halvik
