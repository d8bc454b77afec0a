#include "views/git/GitNewBranchSheet.h"

#include "gitcore/GitBranchName.h"

#include "views/accounts/AccountWidgets.h"
#include "views/git/GitSheetWidgets.h"

#include "app/GitWorkspace.h"
#include "async/FireAndForget.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvik::views {

GitNewBranchSheet::GitNewBranchSheet(GitWorkspace& workspace, QWidget* parent)
    : QDialog(parent), m_workspace(workspace)
{
    setObjectName("gitNewBranchSheet");
    setWindowTitle(QStringLiteral("New Branch"));
    setMinimumWidth(440);

    QVBoxLayout* layout = sheetLayout(this);
    addSheetHeading(layout, QStringLiteral("vcs-branch"), QString(), QStringLiteral("New Branch"), this);

    auto* form = new QFormLayout;
    form->setContentsMargins(0, 4, 0, 0);
    m_name = new QLineEdit(workspace.newBranchName(), this);
    m_name->setObjectName("branchNameField");
    m_name->setPlaceholderText(QStringLiteral("feature/my-change"));
    form->addRow(QStringLiteral("Name"), m_name);
    layout->addLayout(form);

    m_explanation = new ToneLabel(QString(), Tone::muted, this);
    m_explanation->setObjectName("branchExplanation");
    layout->addWidget(m_explanation);
    m_outcome = new ToneLabel(QString(), Tone::failure, this);
    m_outcome->setObjectName("branchOutcome");
    m_outcome->hide();
    layout->addWidget(m_outcome);
    layout->addStretch();

    auto* buttons = new QDialogButtonBox(this);
    m_cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    m_create = buttons->addButton(QStringLiteral("Create"), QDialogButtonBox::AcceptRole);
    m_create->setDefault(true);
    layout->addWidget(buttons);

    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_create, &QPushButton::clicked, this, [this] { fireAndForget(this, create()); });
    connect(m_name, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_workspace.setNewBranchName(text);
        m_outcome->hide();
    });
    connect(&m_workspace, &GitWorkspace::draftsChanged, this, [this] {
        if (m_name->text() != m_workspace.newBranchName())
            m_name->setText(m_workspace.newBranchName());
    });
    connect(&m_workspace, &GitWorkspace::draftsChanged, this, &GitNewBranchSheet::sync);
    connect(&m_workspace, &GitWorkspace::busyChanged, this, [this] {
        if (m_running && m_workspace.busyAction())
            m_ran = true;
        sync();
    });
    connect(&m_workspace, &GitWorkspace::snapshotChanged, this, &GitNewBranchSheet::sync);
    sync();
    m_built = true;
}

QLabel* GitNewBranchSheet::explanationLabel() const
{
    return m_explanation;
}

QLabel* GitNewBranchSheet::outcomeLabel() const
{
    return m_outcome;
}

void GitNewBranchSheet::sync()
{
    // The name is checked as it is typed: what Git would refuse says why in place of the note.
    const QString name = m_workspace.newBranchName().trimmed();
    const std::optional<QString> problem = gitcore::branchNameProblem(name);
    m_explanation->setText(problem.value_or(
        QStringLiteral("The new branch starts from the current commit. Uncommitted changes come along.")));
    m_explanation->setTone(problem ? Tone::failure : Tone::muted);
    const bool busy = m_running || m_workspace.busyAction().has_value();
    m_name->setEnabled(!m_running);
    m_create->setEnabled(!busy && !name.isEmpty() && !problem);
}

QCoro::Task<> GitNewBranchSheet::create()
{
    if (m_running || m_workspace.newBranchName().trimmed().isEmpty() ||
        gitcore::branchNameProblem(m_workspace.newBranchName().trimmed()))
        co_return;
    const LifeToken alive = m_life.token();
    // Git takes the name as typed; stray spaces around it are never meant.
    m_workspace.setNewBranchName(m_workspace.newBranchName().trimmed());
    m_running = true;
    m_ran = false;
    m_outcome->hide();
    sync();
    co_await m_workspace.createBranch();
    if (!alive)
        co_return;
    m_running = false;
    // Refused because another operation was running: nothing happened, the sheet stays.
    if (!m_ran) {
        sync();
        co_return;
    }
    if (!m_workspace.noticeFailed()) {
        m_workspace.setNewBranchName(QString());
        accept();
        co_return;
    }
    showOutcome(m_outcome, m_workspace);
    sync();
    adjustSize();
}

void GitNewBranchSheet::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // Light and dark switch at once, without reopening.
    if (event->type() == QEvent::PaletteChange && m_built) {
        refreshGlyphs(this);
    }
}

} // namespace halvik::views
