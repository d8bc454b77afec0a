#pragma once

#include "InstallStep.h"

#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace halvik {

// One new-site installation as the screens and the command line follow it: its step, a
// progress fraction that only ever grows, the streamed log and the result. Main thread.
class InstallJob : public QObject
{
    Q_OBJECT
public:
    InstallJob(QUuid siteID, QString siteName, QObject* parent = nullptr);

    QUuid siteID() const { return m_siteID; }
    const QString& siteName() const { return m_siteName; }
    InstallStep step() const { return m_step; }
    double fractionComplete() const { return m_fraction; }
    const QString& log() const { return m_log; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }
    std::optional<QString> postInstallInstructions() const { return m_instructions; }
    bool isFinished() const { return m_isFinished; }
    bool succeeded() const { return m_succeeded; }
    std::optional<int> composerPackagesTotal() const { return m_packagesTotal; }
    int composerPackagesDone() const { return m_packagesDone; }

    // Adds one line (or several joined by line feeds); dropped once the job has finished.
    void appendLine(const QString& line);
    // Enters a step: the fraction rises to the step's base, or to `fraction` when given.
    void enterStep(InstallStep step, std::optional<double> fraction = std::nullopt);
    // One line of Composer's output during `step`: counts announced and installed packages and
    // moves the bar within the step. Does not add the line to the log.
    void noteComposerLine(InstallStep step, const QString& line);
    void setPostInstallInstructions(std::optional<QString> text) { m_instructions = std::move(text); }
    // Ends the job; a successful one stands at 1.
    void finish(bool succeeded, std::optional<QString> errorMessage = std::nullopt);

Q_SIGNALS:
    void logAppended(const QString& text, bool first);
    // Step, fraction or package counts changed.
    void progressChanged();
    void finished();

private:
    void raiseFraction(double fraction);

    QUuid m_siteID;
    QString m_siteName;
    InstallStep m_step = InstallStep::download;
    double m_fraction = 0.0;
    QString m_log;
    std::optional<QString> m_errorMessage;
    std::optional<QString> m_instructions;
    bool m_isFinished = false;
    bool m_succeeded = false;
    std::optional<int> m_packagesTotal;
    int m_packagesDone = 0;
};

} // namespace halvik
