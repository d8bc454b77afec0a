#pragma once

#include "async/Cancellation.h"
#include "async/HalvikError.h"
#include "models/Site.h"

#include <QCoroTask>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace halvik {

class ComposerService;
class HerdService;
class LaravelConfigurationResolver;
class ProcessRunner;
class RuntimeManager;
namespace StaticSiteSupport {
class OutputRewrite;
}

class StaticSiteBuilderError : public HalvikError
{
public:
    using HalvikError::HalvikError;
    static StaticSiteBuilderError outputMissing(const QString& path)
    {
        return StaticSiteBuilderError(QStringLiteral("Static output folder is empty or missing: ") + path);
    }
    static StaticSiteBuilderError nodeMissing()
    {
        return StaticSiteBuilderError(QStringLiteral(
            "Node/npm was not found. Install Node for Halvik from Settings, or use Herd / Homebrew."));
    }
    static StaticSiteBuilderError commandFailed(int exitStatus, const QString& output)
    {
        // The output's lines without the blank ones its two streams leave between them.
        QStringList lines{QStringLiteral("Command failed (%1)").arg(exitStatus)};
        for (const QString& line : output.split(QLatin1Char('\n')))
            if (!line.trimmed().isEmpty())
                lines << line;
        return StaticSiteBuilderError(lines.join(QLatin1Char('\n')));
    }
};

// What one generation produced.
struct StaticBuild
{
    QString output;
    int files = 0;
    int rewritten = 0;
    QDateTime builtAt;
};

// Turns a site using the static-site generator into plain files: frontend build when the
// site has one, content index warm-up, generation, then local URLs made root-relative. Every
// command runs in the site folder, is recorded as an operation of the site, and stops (its
// whole process group) when the token is cancelled. Main thread.
class StaticSiteBuilder
{
public:
    // Each line of the run: the builder's own steps and every line the commands print. Called
    // on the commands' reader threads as well as on the main thread; it must not block.
    using LineCallback = std::function<void(const QString&)>;

    StaticSiteBuilder(ProcessRunner& runner, RuntimeManager& runtime, const HerdService* herd,
                      ComposerService& composer, LaravelConfigurationResolver& configuration,
                      std::function<void()> save);

    // Sets the site's lastStaticBuildAt. Throws StaticSiteBuilderError, the resolver's and the
    // runtime's errors, and CancelledError.
    QCoro::Task<StaticBuild> generate(SitePtr site, std::optional<QString> publicBaseURL,
                                      LineCallback onOutput, CancellationToken cancel = {});
    // The generator's destination, relative paths against the site folder.
    QCoro::Task<QString> outputDirectory(SitePtr site, std::optional<QString> publicBaseURL = std::nullopt);

    // The variables every command of a generation gets.
    static QMap<QString, QString> environment(const std::optional<QString>& publicBaseURL);
    // Whether package.json has a "build" script.
    static bool hasBuildScript(const QString& siteFolder);

private:
    QCoro::Task<> buildFrontend(SitePtr site, QMap<QString, QString> environment, LineCallback onOutput,
                                CancellationToken cancel);
    QCoro::Task<> runKeffin(SitePtr site, QStringList arguments, QMap<QString, QString> environment,
                            LineCallback onOutput, CancellationToken cancel);
    QString phpFor(const Site& site) const;
    // Resolves the output folder, then starts its rewrite, following the generator while
    // `generating` holds.
    QCoro::Task<std::shared_ptr<StaticSiteSupport::OutputRewrite>>
    startRewrite(SitePtr site, std::optional<QString> publicBaseURL, std::shared_ptr<bool> generating);

    ProcessRunner& m_runner;
    RuntimeManager& m_runtime;
    const HerdService* m_herd;
    ComposerService& m_composer;
    LaravelConfigurationResolver& m_configuration;
    std::function<void()> m_save;
};

} // namespace halvik
