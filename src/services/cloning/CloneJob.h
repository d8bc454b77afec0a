#pragma once

#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace halvik {

enum class CloneStep
{
    copy,
    configure,
    linkHerd,
    done
};

namespace CloneSteps {
QString toRaw(CloneStep step);
// "Copy files", "Configure", "Link local site", "Ready".
QString label(CloneStep step);
} // namespace CloneSteps

// One site duplication as the screens and the command line follow it. Main thread.
class CloneJob : public QObject
{
    Q_OBJECT
public:
    CloneJob(QUuid siteID, QString siteName, QObject* parent = nullptr);

    QUuid siteID() const { return m_siteID; }
    const QString& siteName() const { return m_siteName; }
    CloneStep step() const { return m_step; }
    double fractionComplete() const { return m_fraction; }
    const QString& log() const { return m_log; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }
    bool isFinished() const { return m_isFinished; }
    bool succeeded() const { return m_succeeded; }
    // The step's label, or "Failed" for a job that ended without success.
    QString stepLabel() const;

    void appendLine(const QString& line);
    void setStep(CloneStep step, double fraction);
    // Only ever raises the fraction.
    void setFraction(double fraction);
    void finish(bool succeeded, std::optional<QString> errorMessage = std::nullopt);

Q_SIGNALS:
    void logAppended(const QString& text, bool first);
    void progressChanged();
    void finished();

private:
    QUuid m_siteID;
    QString m_siteName;
    CloneStep m_step = CloneStep::copy;
    double m_fraction = 0.0;
    QString m_log;
    std::optional<QString> m_errorMessage;
    bool m_isFinished = false;
    bool m_succeeded = false;
};

} // namespace halvik
