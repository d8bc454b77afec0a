#include "views/git/GitStashSheet.h"

#include "views/accounts/AccountWidgets.h"
#include "views/git/GitSheetWidgets.h"

#include "app/GitWorkspace.h"
#include "async/FireAndForget.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace halvik::views {

using gitcore::GitStash;

namespace {

// "2 hours ago" style ages for the entries' second line.
QString ageText(const QDateTime& date)
{
    if (!date.isValid())
        return {};
    const qint64 seconds = date.secsTo(QDateTime::currentDateTimeUtc());
    if (seconds < 60)
        return QStringLiteral("just now");
    const auto ago = [](qint64 count, const char* unit) {
        return QStringLiteral("%1 %2%3 ago").arg(count).arg(QLatin1String(unit)).arg(count == 1 ? "" : "s");
    };
    if (seconds < 3600)
        return ago(seconds / 60, "minute");
    if (seconds < 86400)
        return ago(seconds / 3600, "hour");
    if (seconds < 86400 * 30)
        return ago(seconds / 86400, "day");
    return QLocale().toString(date.toLocalTime().date(), QLocale::ShortFormat);
}

// Git files an entry as "On main: message" (or "WIP on main: …" without a message of its
// own): the message leads, the branch goes to the second line.
QPair<QString, QString> splitMessage(const QString& message)
{
    static const QRegularExpression pattern(QStringLiteral("^(?:WIP on|On) ([^:]+): (.*)$"));
    const QRegularExpressionMatch match = pattern.match(message);
    if (!match.hasMatch() || match.captured(2).trimmed().isEmpty())
        return {message, QString()};
    return {match.captured(2), match.captured(1)};
}

} // namespace

GitStashSheet::GitStashSheet(GitWorkspace& workspace, QWidget* parent)
    : QDialog(parent), m_workspace(workspace)
{
    setObjectName("gitStashSheet");
    setWindowTitle(QStringLiteral("Set-Aside Changes"));
    setMinimumWidth(520);

    QVBoxLayout* layout = sheetLayout(this);
    addSheetHeading(layout, QStringLiteral("vcs-stash"), QStringLiteral("document-save"),
                    QStringLiteral("Set-Aside Changes"), this);

    auto* intro = new QHBoxLayout;
    intro->setSpacing(12);
    auto* help =
        new ToneLabel(QStringLiteral("Stash tracked and untracked work. Restore puts the index back too."),
                      Tone::muted, this);
    intro->addWidget(help, 1);
    m_setAside = new QPushButton(QStringLiteral("Set Aside"), this);
    setGlyph(m_setAside, QStringLiteral("vcs-stash"), QStringLiteral("document-save"));
    m_setAside->setObjectName("setAsideButton");
    m_setAside->setToolTip(QStringLiteral("git stash push -u"));
    intro->addWidget(m_setAside, 0, Qt::AlignTop);
    layout->addLayout(intro);

    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::StyledPanel);
    m_scroll->setMinimumHeight(180);
    m_entries = new QWidget(m_scroll);
    m_entries->setBackgroundRole(QPalette::Base);
    m_entries->setAutoFillBackground(true);
    m_entriesLayout = new QVBoxLayout(m_entries);
    m_entriesLayout->setContentsMargins(0, 0, 0, 0);
    m_entriesLayout->setSpacing(0);
    m_scroll->setWidget(m_entries);
    layout->addWidget(m_scroll, 1);

    m_empty = new ToneLabel(QStringLiteral("Nothing is set aside."), Tone::muted, m_entries);
    m_empty->setObjectName("stashEmpty");
    m_empty->setAlignment(Qt::AlignCenter);

    m_outcome = new ToneLabel(QString(), Tone::failure, this);
    m_outcome->setObjectName("stashOutcome");
    m_outcome->hide();
    layout->addWidget(m_outcome);

    auto* footer = new ToneLabel(
        QStringLiteral("Runs git stash push -u. Restore runs git stash apply --index so staged vs "
                       "remaining comes back. Drop needs confirmation."),
        Tone::muted, this);
    QFont small = footer->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    footer->setFont(small);
    layout->addWidget(footer);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* done = buttons->addButton(QStringLiteral("Done"), QDialogButtonBox::AcceptRole);
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(buttons);

    connect(m_setAside, &QPushButton::clicked, this,
            [this] { fireAndForget(this, runFromSheet([this] { return m_workspace.stashChanges(); })); });
    connect(&m_workspace, &GitWorkspace::snapshotChanged, this, &GitStashSheet::rebuild);
    connect(&m_workspace, &GitWorkspace::busyChanged, this, [this] {
        if (m_running && m_workspace.busyAction())
            m_ran = true;
        syncEnabled();
    });
    rebuild();
    resize(560, 420);
    m_built = true;
}

QLabel* GitStashSheet::emptyLabel() const
{
    return m_empty;
}

QLabel* GitStashSheet::outcomeLabel() const
{
    return m_outcome;
}

QStringList GitStashSheet::entryTexts() const
{
    QStringList texts;
    for (const QLabel* label : m_entryLabels)
        texts << label->text();
    return texts;
}

void GitStashSheet::rebuild()
{
    // The list is short (people set aside a handful of change sets), so each entry is a row of
    // widgets with real buttons the keyboard reaches.
    while (QLayoutItem* item = m_entriesLayout->takeAt(0)) {
        if (item->widget() && item->widget() != m_empty)
            item->widget()->deleteLater();
        delete item;
    }
    m_restoreButtons.clear();
    m_dropButtons.clear();
    m_entryLabels.clear();

    const QList<GitStash>& stashes = m_workspace.snapshot().stashes;
    m_empty->setVisible(stashes.isEmpty());
    if (stashes.isEmpty()) {
        m_entriesLayout->addWidget(m_empty, 1);
        syncEnabled();
        return;
    }
    for (qsizetype i = 0; i < stashes.size(); ++i) {
        const GitStash stash = stashes.at(i);
        auto* row = new QWidget(m_entries);
        row->setObjectName(QStringLiteral("stashRow"));
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(12, 8, 8, 8);
        line->setSpacing(10);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        const auto [message, branch] = splitMessage(stash.message);
        auto* title = new QLabel(message, row);
        title->setTextInteractionFlags(Qt::TextSelectableByMouse);
        title->setWordWrap(true);
        texts->addWidget(title);
        const QString age = ageText(stash.date);
        auto* detail = new ToneLabel(age.isEmpty() ? stash.ref : stash.ref + QStringLiteral(" · ") + age,
                                     Tone::muted, row);
        texts->addWidget(detail);
        line->addLayout(texts, 1);

        auto* restore = new QPushButton(QStringLiteral("Restore"), row);
        setGlyph(restore, QStringLiteral("vcs-stash-pop"), QStringLiteral("edit-undo"));
        restore->setToolTip(QStringLiteral("git stash apply --index ") + stash.ref);
        line->addWidget(restore, 0, Qt::AlignVCenter);
        auto* drop = new QToolButton(row);
        setGlyph(drop, QStringLiteral("edit-delete"));
        drop->setAutoRaise(true);
        drop->setToolTip(QStringLiteral("Drop"));
        drop->setAccessibleName(QStringLiteral("Drop ") + message);
        line->addWidget(drop, 0, Qt::AlignVCenter);
        connect(restore, &QPushButton::clicked, this, [this, stash] {
            fireAndForget(this, runFromSheet([this, stash] { return m_workspace.restoreStash(stash); }));
        });
        connect(drop, &QToolButton::clicked, this, [this, stash] {
            fireAndForget(this, runFromSheet([this, stash] { return m_workspace.dropStash(stash); }));
        });

        m_entriesLayout->addWidget(row);
        if (i + 1 < stashes.size()) {
            m_entriesLayout->addWidget(horizontalRule(m_entries));
        }
        m_restoreButtons.append(restore);
        m_dropButtons.append(drop);
        m_entryLabels.append(title);
    }
    m_entriesLayout->addStretch(1);
    syncEnabled();
}

void GitStashSheet::syncEnabled()
{
    const auto& status = m_workspace.snapshot().status;
    const bool idle = !m_running && !m_workspace.busyAction().has_value();
    // Nothing is set aside or restored in the middle of a rebase.
    const bool safe = !status.inProgressRebase && !status.hasUnmerged;
    m_setAside->setEnabled(idle && safe && !m_workspace.snapshot().files.isEmpty());
    for (QPushButton* button : m_restoreButtons)
        button->setEnabled(idle && safe);
    for (QToolButton* button : m_dropButtons)
        button->setEnabled(idle);
}

QCoro::Task<> GitStashSheet::runFromSheet(std::function<QCoro::Task<>()> operation)
{
    if (m_running)
        co_return;
    const LifeToken alive = m_life.token();
    m_running = true;
    m_ran = false;
    m_outcome->hide();
    syncEnabled();
    QCoro::Task<> task = operation();
    co_await std::move(task);
    if (!alive)
        co_return;
    m_running = false;
    // A declined question runs nothing and leaves an older notice alone: say nothing then.
    if (m_ran)
        showOutcome(m_outcome, m_workspace);
    syncEnabled();
}

void GitStashSheet::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // Light and dark switch at once, without reopening.
    if (event->type() == QEvent::PaletteChange && m_built) {
        refreshGlyphs(this);
    }
}

} // namespace halvik::views
