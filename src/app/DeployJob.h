#pragma once

#include "models/Deployment.h"
#include "models/Site.h"

#include <QObject>
#include <QStringList>

#include <optional>

namespace halvik {

// One run that deploys a site to a host, whatever the provider. It records a Deployment on the
// site: the run's own lines first, then the provider's output, which each look replaces.
// Main thread.
class DeployJob : public QObject
{
    Q_OBJECT
public:
    enum class Outcome
    {
        running,
        finished,
        failed,
        // Stopped after the provider had started deploying: the provider goes on, and the
        // record is completed by the next look at the history.
        watchStopped
    };

    DeployJob(SitePtr site, DeploymentPtr deployment, QObject* parent = nullptr);

    const SitePtr& site() const { return m_site; }
    const DeploymentPtr& deployment() const { return m_deployment; }
    Outcome outcome() const { return m_outcome; }
    bool isFinished() const { return m_outcome != Outcome::running; }
    std::optional<QString> errorMessage() const { return m_error; }
    const QStringList& lines() const { return m_lines; }
    // The provider's latest word on the deployment ("queued", "deploying", …); empty before it.
    QString providerStatus() const { return m_providerStatus; }
    // Whether the provider was asked to deploy: from then on stopping only stops the watching.
    bool isTriggered() const { return m_triggered; }

    // Cancels the run before the trigger, stops watching after it.
    virtual void stop() = 0;

    // The line between the run's own lines and the provider's output in the record's log.
    static constexpr auto outputMarker = "Output:";
    // The log made of `steps` and `output`.
    static QString composeLog(const QString& steps, const QString& output);
    // The run's own lines of a log written by composeLog.
    static QString stepsOf(const QString& log);

Q_SIGNALS:
    void lineAdded(const QString& line);
    void providerStatusChanged(const QString& status);
    void outputChanged(const QString& output);
    void finished();

protected:
    void addLine(const QString& line);
    void setProviderStatus(const QString& status);
    void setOutput(const QString& output);
    void setTriggered() { m_triggered = true; }
    void finish(Outcome outcome, std::optional<QString> error = std::nullopt);

private:
    SitePtr m_site;
    DeploymentPtr m_deployment;
    Outcome m_outcome = Outcome::running;
    std::optional<QString> m_error;
    QStringList m_lines;
    QString m_providerStatus;
    bool m_triggered = false;
};

} // namespace halvik
