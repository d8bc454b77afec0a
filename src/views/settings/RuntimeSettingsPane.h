#pragma once

#include "async/LifeGuard.h"

#include <QCoroTask>
#include <QWidget>

#include <functional>

class QGridLayout;
class QLabel;
class QProgressBar;
class QPushButton;

namespace halvik {
class RuntimeManager;
}

namespace halvik::views {

// Halvik's own runtimes in the settings: Node with its source, install and remove, and one row
// per offered PHP line with download or remove; progress and failures show in the row.
class RuntimeSettingsPane : public QWidget
{
    Q_OBJECT
public:
    explicit RuntimeSettingsPane(RuntimeManager& runtime, QWidget* parent = nullptr);

    // The last failure shown, for tests.
    QString errorText() const;

private:
    struct PHPRow
    {
        QString line;
        QLabel* status;
        QProgressBar* progress;
        QPushButton* action;
    };

    void refresh();
    void refreshNode();
    void refreshPHP();
    void showError(const QString& sentence);
    QCoro::Task<> runInstall(std::function<QCoro::Task<>()> install);

    RuntimeManager& m_runtime;
    QLabel* m_nodeSource;
    QLabel* m_nodeProgressText;
    QProgressBar* m_nodeProgress;
    QPushButton* m_nodeInstall;
    QPushButton* m_nodeRemove;
    QPushButton* m_nodeCancel;
    QLabel* m_phpIntro;
    QList<PHPRow> m_phpRows;
    QPushButton* m_phpCancel;
    QLabel* m_composer;
    QLabel* m_error;
    LifeGuard m_life;
};

} // namespace halvik::views
