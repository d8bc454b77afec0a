#pragma once

#include "async/LifeGuard.h"
#include "models/Site.h"
#include "services/composer/ComposerRecords.h"

#include <QCoroTask>
#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStackedWidget;
class QTabWidget;

namespace halvik {
class ComposerService;
}

namespace halvik::views {

class LiveLogView;

// "Commands": the site's artisan and keffin console commands, and running the chosen one with
// arguments while its output streams in.
class ConsoleCommandsSheet : public QDialog
{
    Q_OBJECT
public:
    ConsoleCommandsSheet(ComposerService& composer, SitePtr site, QWidget* parent = nullptr);
    ~ConsoleCommandsSheet() override;

    QCoro::Task<> loadCommands();
    QCoro::Task<> runSelected();

    QTabWidget* tabs() const { return m_tabs; }
    QListWidget* list(const QString& tool) const;
    QLineEdit* argumentsField() const { return m_arguments; }
    QLineEdit* filterField() const { return m_filter; }
    QPushButton* runButton() const { return m_run; }
    LiveLogView* output() const { return m_output; }
    QString statusText() const;
    bool isLoading() const { return m_loading; }

private:
    QListWidget* makeList();
    void fill(const QList<ConsoleCommand>& commands);
    void applyFilter();
    void syncSelection();
    QListWidget* currentList() const;

    ComposerService& m_composer;
    SitePtr m_site;
    bool m_loading = false;
    bool m_running = false;
    int m_nameWidth = 120;
    QTabWidget* m_tabs;
    QStackedWidget* m_artisanStack;
    QStackedWidget* m_keffinStack;
    QListWidget* m_artisan;
    QListWidget* m_keffin;
    QLineEdit* m_filter;
    QLabel* m_selected;
    QLineEdit* m_arguments;
    QPushButton* m_run;
    LiveLogView* m_output;
    QLabel* m_status;
    LifeGuard m_life;
};

} // namespace halvik::views
