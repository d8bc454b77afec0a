#include "views/site/ConsoleCommandsSheet.h"

#include "views/common/LiveLogView.h"
#include "views/common/SemanticColors.h"

#include "async/FireAndForget.h"
#include "services/OperationLogSink.h"
#include "services/composer/ComposerService.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

constexpr int nameRole = Qt::UserRole;
constexpr int descriptionRole = Qt::UserRole + 1;

// The command's name in a monospace column, its description beside it, muted.
class CommandDelegate : public QStyledItemDelegate
{
public:
    CommandDelegate(const int* nameWidth, QObject* parent)
        : QStyledItemDelegate(parent), m_nameWidth(nameWidth)
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem plain = option;
        initStyleOption(&plain, index);
        plain.text.clear();
        QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &plain, painter, plain.widget);
        const bool selected = option.state & QStyle::State_Selected;
        const QRect area = option.rect.adjusted(8, 0, -8, 0);
        QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        painter->save();
        painter->setFont(mono);
        painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const int nameWidth = std::min(*m_nameWidth, area.width() / 2);
        const QString name = index.data(nameRole).toString();
        painter->drawText(QRect(area.left(), area.top(), nameWidth, area.height()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(mono, painter->device()).elidedText(name, Qt::ElideRight, nameWidth));
        painter->setFont(option.font);
        painter->setPen(
            option.palette.color(selected ? QPalette::HighlightedText : QPalette::PlaceholderText));
        const QRect rest(area.left() + nameWidth + 16, area.top(), area.width() - nameWidth - 16,
                         area.height());
        painter->drawText(rest, Qt::AlignLeft | Qt::AlignVCenter,
                          option.fontMetrics.elidedText(index.data(descriptionRole).toString(),
                                                        Qt::ElideRight, rest.width()));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(option.fontMetrics.height() + 10);
        return size;
    }

private:
    const int* m_nameWidth;
};

// The pages of each tab, in order: loading, the list, no commands, the listing failed.
constexpr int failedPage = 3;

// "Loading command list" with a busy bar, shown in each tab until the lists arrive.
QWidget* loadingPage(QWidget* parent)
{
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->addStretch();
    auto* text = new QLabel(QStringLiteral("Loading command list"), page);
    text->setAlignment(Qt::AlignCenter);
    text->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(text);
    auto* busy = new QProgressBar(page);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setMaximumWidth(220);
    busy->setMaximumHeight(busy->sizeHint().height() / 2);
    layout->addWidget(busy, 0, Qt::AlignHCenter);
    layout->addStretch();
    return page;
}

QWidget* emptyPage(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

} // namespace

ConsoleCommandsSheet::ConsoleCommandsSheet(ComposerService& composer, SitePtr site, QWidget* parent)
    : QDialog(parent), m_composer(composer), m_site(std::move(site))
{
    setWindowTitle(QStringLiteral("Commands"));
    resize(860, 620);
    auto* layout = new QVBoxLayout(this);
    auto* intro =
        new QLabel(tr("Console commands of %1. Choose one, add its arguments and run it in the site’s "
                      "folder.")
                       .arg(m_site->displayName()),
                   this);
    intro->setWordWrap(true);
    intro->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(intro);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->setChildrenCollapsible(false);
    layout->addWidget(split, 1);

    auto* top = new QWidget(split);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    m_filter = new QLineEdit(top);
    m_filter->setPlaceholderText(tr("Filter commands"));
    m_filter->setClearButtonEnabled(true);
    topLayout->addWidget(m_filter);
    m_tabs = new QTabWidget(top);
    m_tabs->setDocumentMode(true);
    m_artisan = makeList();
    m_keffin = makeList();
    m_artisanStack = new QStackedWidget(m_tabs);
    m_artisanStack->addWidget(loadingPage(m_artisanStack));
    m_artisanStack->addWidget(m_artisan);
    m_artisanStack->addWidget(emptyPage(tr("artisan listed no commands in this site."), m_artisanStack));
    m_keffinStack = new QStackedWidget(m_tabs);
    m_keffinStack->addWidget(loadingPage(m_keffinStack));
    m_keffinStack->addWidget(m_keffin);
    m_keffinStack->addWidget(emptyPage(tr("This site has no CMS console commands."), m_keffinStack));
    // A listing that failed says why in each tab rather than claiming there are no commands.
    for (QStackedWidget* stack : {m_artisanStack, m_keffinStack}) {
        auto* failure = static_cast<QLabel*>(emptyPage(QString(), stack));
        failure->setObjectName("listingFailed");
        failure->setTextInteractionFlags(Qt::TextSelectableByMouse);
        failure->setForegroundRole(QPalette::WindowText); // the semantic colour, not the muted one
        setSemanticText(failure, Semantic::danger);
        stack->addWidget(failure);
    }
    m_tabs->addTab(m_artisanStack, QStringLiteral("Artisan"));
    m_tabs->addTab(m_keffinStack, QStringLiteral("Keffin"));
    topLayout->addWidget(m_tabs, 1);

    auto* runRow = new QHBoxLayout;
    m_selected = new QLabel(tr("Choose a command"), top);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_selected->setFont(mono);
    runRow->addWidget(m_selected);
    m_arguments = new QLineEdit(top);
    m_arguments->setFont(mono);
    m_arguments->setPlaceholderText(tr("Arguments and options"));
    m_arguments->setAccessibleName(tr("Arguments"));
    runRow->addWidget(m_arguments, 1);
    m_run = new QPushButton(QIcon::fromTheme(QStringLiteral("media-playback-start")), tr("Run"), top);
    m_run->setDefault(true);
    m_run->setEnabled(false);
    runRow->addWidget(m_run);
    topLayout->addLayout(runRow);
    split->addWidget(top);

    auto* bottom = new QWidget(split);
    auto* bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 6, 0, 0);
    auto* outputTitle = new QLabel(QStringLiteral("Output"), bottom);
    QFont bold = outputTitle->font();
    bold.setBold(true);
    outputTitle->setFont(bold);
    bottomLayout->addWidget(outputTitle);
    m_output = new LiveLogView(bottom);
    m_output->setAccessibleName(QStringLiteral("Output"));
    bottomLayout->addWidget(m_output, 1);
    m_status = new QLabel(bottom);
    m_status->setForegroundRole(QPalette::PlaceholderText);
    bottomLayout->addWidget(m_status);
    split->addWidget(bottom);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(m_filter, &QLineEdit::textChanged, this, &ConsoleCommandsSheet::applyFilter);
    connect(m_tabs, &QTabWidget::currentChanged, this, &ConsoleCommandsSheet::syncSelection);
    connect(m_run, &QPushButton::clicked, this, [this] { fireAndForget(this, runSelected()); });
    connect(m_arguments, &QLineEdit::returnPressed, m_run, &QPushButton::click);

    fireAndForget(this, loadCommands());
}

ConsoleCommandsSheet::~ConsoleCommandsSheet()
{
    m_life.end();
}

QListWidget* ConsoleCommandsSheet::makeList()
{
    auto* list = new QListWidget(this);
    list->setUniformItemSizes(true);
    list->setAlternatingRowColors(true);
    list->setItemDelegate(new CommandDelegate(&m_nameWidth, list));
    connect(list, &QListWidget::currentItemChanged, this, &ConsoleCommandsSheet::syncSelection);
    connect(list, &QListWidget::itemActivated, this, [this] { m_arguments->setFocus(); });
    return list;
}

QListWidget* ConsoleCommandsSheet::list(const QString& tool) const
{
    return tool == QLatin1String("keffin") ? m_keffin : m_artisan;
}

QListWidget* ConsoleCommandsSheet::currentList() const
{
    return m_tabs->currentIndex() == 1 ? m_keffin : m_artisan;
}

QCoro::Task<> ConsoleCommandsSheet::loadCommands()
{
    const LifeToken alive = m_life.token();
    m_loading = true;
    m_artisanStack->setCurrentIndex(0);
    m_keffinStack->setCurrentIndex(0);
    QList<ConsoleCommand> commands;
    try {
        commands = co_await m_composer.listConsoleCommands(m_site);
    } catch (const HalvikError& error) {
        if (!alive)
            co_return;
        m_loading = false;
        m_status->setText(error.description());
        for (QStackedWidget* stack : {m_artisanStack, m_keffinStack}) {
            static_cast<QLabel*>(stack->widget(failedPage))->setText(error.description());
            stack->setCurrentIndex(failedPage);
        }
        co_return;
    }
    if (!alive)
        co_return;
    m_loading = false;
    fill(commands);
}

void ConsoleCommandsSheet::fill(const QList<ConsoleCommand>& commands)
{
    m_artisan->clear();
    m_keffin->clear();
    const QFontMetrics mono(QFontDatabase::systemFont(QFontDatabase::FixedFont), m_artisan);
    m_nameWidth = 120;
    for (const ConsoleCommand& command : commands)
        m_nameWidth = std::max(m_nameWidth, mono.horizontalAdvance(command.name) + 12);
    for (const ConsoleCommand& command : commands) {
        auto* item = new QListWidgetItem(list(command.tool));
        item->setText(command.description.isEmpty()
                          ? command.name
                          : command.name + QStringLiteral("  —  ") + command.description);
        item->setData(nameRole, command.name);
        item->setData(descriptionRole, command.description);
        item->setToolTip(command.description);
    }
    m_artisanStack->setCurrentIndex(m_artisan->count() > 0 ? 1 : 2);
    m_keffinStack->setCurrentIndex(m_keffin->count() > 0 ? 1 : 2);
    if (m_artisan->count() == 0 && m_keffin->count() > 0)
        m_tabs->setCurrentIndex(1);
    applyFilter();
}

void ConsoleCommandsSheet::applyFilter()
{
    const QString needle = m_filter->text().trimmed();
    for (QListWidget* list : {m_artisan, m_keffin})
        for (int i = 0; i < list->count(); ++i) {
            QListWidgetItem* item = list->item(i);
            item->setHidden(!needle.isEmpty() && !item->text().contains(needle, Qt::CaseInsensitive));
        }
}

void ConsoleCommandsSheet::syncSelection()
{
    const QListWidgetItem* item = currentList()->currentItem();
    const QString tool = m_tabs->currentIndex() == 1 ? QStringLiteral("keffin") : QStringLiteral("artisan");
    m_selected->setText(item ? QStringLiteral("php %1 %2").arg(tool, item->data(nameRole).toString())
                             : tr("Choose a command"));
    m_run->setEnabled(item && !m_running);
}

QString ConsoleCommandsSheet::statusText() const
{
    return m_status->text();
}

QCoro::Task<> ConsoleCommandsSheet::runSelected()
{
    const QListWidgetItem* item = currentList()->currentItem();
    if (!item || m_running)
        co_return;
    const LifeToken alive = m_life.token();
    const bool keffin = m_tabs->currentIndex() == 1;
    QStringList arguments{item->data(nameRole).toString()};
    arguments += QProcess::splitCommand(m_arguments->text());
    m_running = true;
    m_run->setEnabled(false);
    m_output->clear();
    m_status->setText(tr("Running %1…").arg(arguments.first()));
    m_output->appendBatch(QStringLiteral("$ php %1 %2")
                              .arg(keffin ? QStringLiteral("keffin") : QStringLiteral("artisan"),
                                   arguments.join(QLatin1Char(' '))));

    auto sink = OperationLogSink::create(
        m_output, [output = m_output](const QString& batch, bool) { output->appendBatch(batch); });
    const ComposerService::OutputCallback forward = [sink](const ProcessOutput& out) {
        sink->append(out.line);
    };
    QString outcome;
    bool failed = false;
    try {
        if (keffin)
            co_await m_composer.keffin(m_site, arguments, {}, forward);
        else
            co_await m_composer.runPHP(m_site, QStringLiteral("artisan"), arguments, OperationKind::artisan,
                                       {}, forward);
        outcome = tr("Finished %1.").arg(arguments.first());
    } catch (const HalvikError& error) {
        failed = true;
        outcome = error.description().section(QLatin1Char('\n'), 0, 0);
    }
    if (!alive)
        co_return;
    sink->flush();
    m_running = false;
    QPalette palette = m_status->palette();
    palette.setColor(QPalette::WindowText,
                     semanticColor(failed ? Semantic::danger : Semantic::success, palette));
    m_status->setPalette(palette);
    m_status->setForegroundRole(QPalette::WindowText);
    m_status->setText(outcome);
    syncSelection();
}

} // namespace halvik::views
