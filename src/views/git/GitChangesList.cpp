#include "views/git/GitChangesList.h"

#include "views/common/FileManager.h"

#include "views/git/GitChangeRow.h"
#include "views/git/GitChangesModel.h"

#include "app/GitWorkspace.h"
#include "async/FireAndForget.h"
#include "models/AppPreferences.h"
#include "platform/PlatformTexts.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QStackedLayout>
#include <QUrl>
#include <QVBoxLayout>

namespace halvik::views {

using namespace gitcore;

GitChangesList::GitChangesList(GitWorkspace& workspace, AppPreferences& preferences, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_preferences(preferences), m_filter(new QLineEdit(this)),
      m_includeAll(new QCheckBox(QStringLiteral("Include all changes"), this)), m_view(new QListView(this)),
      m_model(new GitChangesModel(this)), m_rows(new GitChangeRow(this)), m_empty(new QLabel(this)),
      m_stack(new QStackedLayout)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_filter->setPlaceholderText(QStringLiteral("Filter files"));
    m_filter->setAccessibleName(QStringLiteral("Filter files"));
    m_filter->setClearButtonEnabled(true);
    m_filter->addAction(QIcon::fromTheme(QStringLiteral("search")), QLineEdit::LeadingPosition);
    m_includeAll->setTristate(true);
    m_includeAll->setToolTip(QStringLiteral("git add / git restore --staged for every file"));

    m_view->setModel(m_model);
    m_view->setItemDelegate(m_rows);
    m_view->setUniformItemSizes(true);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->setAccessibleName(QStringLiteral("Changed files"));
    m_view->setMouseTracking(true);
    m_view->installEventFilter(this);
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setForegroundRole(QPalette::PlaceholderText);
    m_stack->addWidget(m_view);
    m_stack->addWidget(m_empty);

    layout->addWidget(m_filter);
    layout->addWidget(m_includeAll);
    layout->addLayout(m_stack, 1);

    connect(m_filter, &QLineEdit::textChanged, &m_workspace, &GitWorkspace::setFileFilter);
    connect(m_includeAll, &QCheckBox::clicked, this, [this] {
        if (m_workspace.allIncluded())
            fireAndForget(&m_workspace, m_workspace.excludeAll());
        else
            fireAndForget(&m_workspace, m_workspace.includeAll());
        syncIncludeAll();
    });
    connect(m_rows, &GitChangeRow::checkToggled, this,
            [this](const QModelIndex& index) { toggleRow(index.row()); });
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &GitChangesList::selectionEdited);
    connect(m_view, &QListView::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = m_view->indexAt(at);
        if (!index.isValid())
            return;
        QMenu* menu = contextMenu(index.row());
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_view->viewport()->mapToGlobal(at));
    });
    m_spin.setInterval(80);
    connect(&m_spin, &QTimer::timeout, m_view->viewport(), qOverload<>(&QWidget::update));

    connect(&m_workspace, &GitWorkspace::snapshotChanged, this, [this] {
        syncFiles();
        syncIncludeAll();
    });
    // The history filter shares the signal: only a change of this list's filter re-filters.
    connect(&m_workspace, &GitWorkspace::filtersChanged, this, [this] {
        if (m_workspace.fileFilter() != m_appliedFilter)
            syncFiles();
    });
    connect(&m_workspace, &GitWorkspace::selectionChanged, this, &GitChangesList::syncSelection);
    connect(&m_workspace, &GitWorkspace::busyChanged, this, &GitChangesList::syncBusy);
    syncFiles();
    syncBusy();
    syncIncludeAll();
}

void GitChangesList::syncFiles()
{
    if (m_filter->text() != m_workspace.fileFilter())
        m_filter->setText(m_workspace.fileFilter());
    m_syncing = true;
    m_appliedFilter = m_workspace.fileFilter();
    m_model->setFiles(m_workspace.filteredFiles());
    m_syncing = false;
    const bool none = m_workspace.snapshot().files.isEmpty();
    m_empty->setText(none ? QStringLiteral("Working tree is clean.") : QStringLiteral("No files"));
    m_stack->setCurrentWidget(m_model->rowCount() == 0 ? static_cast<QWidget*>(m_empty) : m_view);
    syncSelection();
}

void GitChangesList::syncSelection()
{
    const QSet<QString>& paths = m_workspace.selectedPaths();
    const std::optional<QString>& primary = m_workspace.selectedPath();
    const QList<GitChangedFile>& files = m_model->files();
    QList<int> rows;
    int currentRow = -1;
    if (paths.size() <= 8) {
        // The usual case, one or a few files: comparing names is cheaper than hashing every row.
        const QList<QString> wanted(paths.begin(), paths.end());
        const QString none;
        const QString& primaryPath = primary ? *primary : none;
        for (int row = 0; row < files.size(); ++row) {
            const QString& path = files.at(row).path;
            if (path.size() == primaryPath.size() && path == primaryPath)
                currentRow = row;
            for (const QString& selected : wanted)
                if (path.size() == selected.size() && path == selected) {
                    rows.append(row);
                    break;
                }
        }
    } else {
        for (int row = 0; row < files.size(); ++row) {
            const QString& path = files.at(row).path;
            if (paths.contains(path))
                rows.append(row);
            if (primary && path == *primary)
                currentRow = row;
        }
    }
    QItemSelection selection;
    for (int row : rows)
        selection.select(m_model->index(row), m_model->index(row));
    m_syncing = true;
    QItemSelectionModel* model = m_view->selectionModel();
    if (model->selection() != selection)
        model->select(selection, QItemSelectionModel::ClearAndSelect);
    if (currentRow >= 0 && model->currentIndex().row() != currentRow) {
        const QModelIndex current = m_model->index(currentRow);
        model->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
        m_view->scrollTo(current);
    }
    m_syncing = false;
}

void GitChangesList::syncBusy()
{
    m_model->setBusyPaths(m_workspace.busyPaths());
    if (m_workspace.busyPaths().isEmpty())
        m_spin.stop();
    else if (!m_spin.isActive())
        m_spin.start();
    syncIncludeAll();
}

void GitChangesList::syncIncludeAll()
{
    const bool all = m_workspace.allIncluded();
    m_includeAll->setCheckState(all                          ? Qt::Checked
                                : m_workspace.someIncluded() ? Qt::PartiallyChecked
                                                             : Qt::Unchecked);
    m_includeAll->setEnabled(!m_workspace.snapshot().files.isEmpty() && !m_workspace.isOperating());
}

void GitChangesList::selectionEdited()
{
    if (m_syncing)
        return;
    QSet<QString> paths;
    for (const QModelIndex& index : m_view->selectionModel()->selectedRows())
        paths.insert(m_model->fileAt(index.row()).path);
    m_workspace.selectFiles(paths);
}

void GitChangesList::toggleRow(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    fireAndForget(&m_workspace, m_workspace.toggleIncluded(m_model->fileAt(row)));
}

void GitChangesList::toggleSelected()
{
    const QList<GitChangedFile> files = m_workspace.selectedChangeFiles();
    if (files.size() == 1) {
        fireAndForget(&m_workspace, m_workspace.toggleIncluded(files.first()));
        return;
    }
    if (files.isEmpty()) {
        toggleRow(m_view->currentIndex().row());
        return;
    }
    // Several: include them all unless every one is already included.
    const bool allIncluded = std::all_of(files.begin(), files.end(), [](const GitChangedFile& file) {
        return file.inclusion() == GitFileInclusion::included && !file.isUntracked;
    });
    if (allIncluded)
        fireAndForget(&m_workspace, m_workspace.excludeFiles(files));
    else
        fireAndForget(&m_workspace, m_workspace.includeFiles(files));
}

QList<GitChangedFile> GitChangesList::filesFor(int row) const
{
    const GitChangedFile& clicked = m_model->fileAt(row);
    const QList<GitChangedFile> selected = m_workspace.selectedChangeFiles();
    for (const auto& file : selected)
        if (file.path == clicked.path)
            return selected;
    return {clicked};
}

QMenu* GitChangesList::contextMenu(int row)
{
    auto* menu = new QMenu(this);
    const QList<GitChangedFile> files = filesFor(row);
    const bool several = files.size() > 1;
    const QString count = several ? QStringLiteral(" %1 Files").arg(files.size()) : QString();
    const bool busy = m_workspace.isOperating();
    const bool conflict = m_workspace.conflict() != GitConflictKind::none;
    bool anyRemaining = false;
    bool anyIncluded = false;
    for (const auto& file : files) {
        anyRemaining = anyRemaining || (!file.isConflicted && file.hasRemaining());
        anyIncluded = anyIncluded || (!file.isUntracked && file.isIncluded());
    }

    QAction* include = menu->addAction(QStringLiteral("Include") + count, this, [this, files] {
        fireAndForget(&m_workspace, m_workspace.includeFiles(files));
    });
    include->setEnabled(anyRemaining && !busy);
    QAction* exclude = menu->addAction(QStringLiteral("Exclude") + count, this, [this, files] {
        fireAndForget(&m_workspace, m_workspace.excludeFiles(files));
    });
    exclude->setEnabled(anyIncluded && !busy);
    QAction* discard = menu->addAction(
        QIcon::fromTheme(QStringLiteral("edit-undo")), QStringLiteral("Discard") + count, this,
        [this, files] { fireAndForget(&m_workspace, m_workspace.discardFiles(files)); });
    discard->setEnabled(!busy && !conflict);
    if (files.size() == 1 && files.first().isConflicted) {
        const GitChangedFile file = files.first();
        menu->addAction(QStringLiteral("Mark Resolved"), this,
                        [this, file] { fireAndForget(&m_workspace, m_workspace.markResolved(file)); })
            ->setEnabled(!busy);
    }
    menu->addSeparator();
    const QString absolute = QDir(m_workspace.site()->path()).filePath(files.first().path);
    menu->addAction(
        QIcon::fromTheme(QStringLiteral("document-edit")), QStringLiteral("Open in Editor"), this,
        [this, absolute] { fireAndForget(&m_preferences, m_preferences.openInEditor(absolute)); });
    menu->addAction(QIcon::fromTheme(QStringLiteral("folder")), PlatformTexts::showInFileManager(), this,
                    [absolute] { showInFileManager(absolute); }); // the file selected, as the site rows do
    menu->addAction(QIcon::fromTheme(QStringLiteral("edit-copy")), QStringLiteral("Copy Path"), this,
                    [this, files] { m_workspace.copyPaths(files); });
    return menu;
}

bool GitChangesList::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
            toggleSelected();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace halvik::views
