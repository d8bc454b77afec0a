#pragma once

#include "gitcore/GitChangedFile.h"

#include <QTimer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QStackedLayout;

namespace halvik {
class AppPreferences;
class GitWorkspace;
} // namespace halvik

namespace halvik::views {

class GitChangeRow;
class GitChangesModel;

// The Changes list: "Filter files", "Include all changes" and one row per changed file, with
// its checkbox, context menu and keyboard (Space toggles inclusion).
class GitChangesList : public QWidget
{
    Q_OBJECT
public:
    GitChangesList(GitWorkspace& workspace, AppPreferences& preferences, QWidget* parent = nullptr);

    QLineEdit* filterField() const { return m_filter; }
    QCheckBox* includeAllBox() const { return m_includeAll; }
    QListView* view() const { return m_view; }
    GitChangesModel* model() const { return m_model; }
    QLabel* emptyLabel() const { return m_empty; }

    // The menu for the row at `row` (the selection when that row is part of it); the caller owns it.
    QMenu* contextMenu(int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void syncFiles();
    void syncSelection();
    void syncBusy();
    void syncIncludeAll();
    void selectionEdited();
    void toggleRow(int row);
    void toggleSelected();
    QList<gitcore::GitChangedFile> filesFor(int row) const;

    GitWorkspace& m_workspace;
    AppPreferences& m_preferences;
    QLineEdit* m_filter;
    QCheckBox* m_includeAll;
    QListView* m_view;
    GitChangesModel* m_model;
    GitChangeRow* m_rows;
    QLabel* m_empty;
    QStackedLayout* m_stack;
    QTimer m_spin; // turns the busy marks
    QString m_appliedFilter;
    bool m_syncing = false;
};

} // namespace halvik::views
