#pragma once

#include "async/Cancellation.h"
#include "models/Site.h"
#include "services/ProcessRequest.h"

#include <QCoroTask>

#include <functional>

namespace halvik {

class HerdService;
class ProcessRunner;
class RuntimeManager;
class ViteDevServer;

// Makes sure a site's assets are built for production before it is shared: a hot-reload
// server on the developer's machine is out of reach for whoever opens the public link.
class SharingPreparation
{
public:
    using Lines = std::function<void(const QString&)>;

    SharingPreparation(ProcessRunner& runner, RuntimeManager& runtime, const HerdService* herd,
                       ViteDevServer& devServer);

    // Throws SharingError::preparationFailed with the sentence to show, or CancelledError.
    // `status` receives progress lines, `log` every output line (on the main thread).
    QCoro::Task<> prepare(SitePtr site, Lines status, Lines log, CancellationToken token = {});

    static QString stillStarting();
    static QString otherAppRunning();
    static QString otherAppConfigured();
    static QString previewStillRunning();
    static QString previewChanged();
    static QString unsupportedBuild();
    static QString noProductionBuild();
    static QString buildToolsFailed();
    static QString assetsFailed();

private:
    QCoro::Task<> guardAgainstPreview(SitePtr site);
    QCoro::Task<int> run(ProcessRequest request, Lines log, CancellationToken token);

    ProcessRunner& m_runner;
    RuntimeManager& m_runtime;
    const HerdService* m_herd;
    ViteDevServer& m_devServer;
};

} // namespace halvik
