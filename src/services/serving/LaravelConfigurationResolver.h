#pragma once

#include "async/HalvikError.h"

#include <QCoroTask>
#include <QMap>
#include <QString>

#include <chrono>

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
    // A site whose kernel takes longer than this to boot is given up on.
    static constexpr std::chrono::milliseconds defaultTimeLimit{10000};

    explicit LaravelConfigurationResolver(ProcessRunner& runner) : m_runner(runner) {}
    void setTimeLimit(std::chrono::milliseconds limit) { m_timeLimit = limit; }

    // Throws LaravelConfigurationError (or the runner's errors when PHP cannot be started); past
    // the time limit the PHP process is stopped and the error says so.
    QCoro::Task<QString> string(QString setting, QString siteFolder, QString php,
                                QMap<QString, QString> environment = {});

    // The value after the last "HALVIK_CONFIGURATION:" line of the output, if it decodes.
    static std::optional<QString> valueFrom(const QString& output);

    static QString timedOutText(std::chrono::milliseconds limit);

private:
    ProcessRunner& m_runner;
    std::chrono::milliseconds m_timeLimit = defaultTimeLimit;
};

} // namespace halvik
