#include "views/site/PackagesTab.h"

#include "views/common/LiveLogView.h"
#include "views/common/SemanticColors.h"

#include "app/PackageUpdateCoordinator.h"
#include "async/FireAndForget.h"
#include "services/composer/ComposerService.h"
#include "services/composer/ConflictTranslator.h"
#include "services/composer/PackagistClient.h"
#include "services/composer/VersionBump.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTreeView>

namespace halvik::views {

namespace {

constexpr int bumpRole = Qt::UserRole + 1;
constexpr int descriptionRole = Qt::UserRole + 2;

// The package's name with its description beneath it, muted.
class NameDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem plain = option;
        initStyleOption(&plain, index);
        plain.text.clear();
        QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &plain, painter, plain.widget);
        const bool selected = option.state & QStyle::State_Selected;
        const QRect area = option.rect.adjusted(6, 4, -6, -4);
        const QFontMetrics metrics(option.font);
        painter->save();
        QFont name = option.font;
        name.setWeight(QFont::DemiBold);
        painter->setFont(name);
        painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const QRect top(area.left(), area.top(), area.width(), metrics.height());
        painter->drawText(
            top, Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetrics(name).elidedText(index.data().toString(), Qt::ElideRight, top.width()));
        const QString description = index.data(descriptionRole).toString();
        if (!description.isEmpty()) {
            painter->setFont(option.font);
            painter->setPen(
                option.palette.color(selected ? QPalette::HighlightedText : QPalette::PlaceholderText));
            const QRect bottom(area.left(), top.bottom() + 1, area.width(), metrics.height());
            painter->drawText(bottom, Qt::AlignLeft | Qt::AlignVCenter,
                              metrics.elidedText(description, Qt::ElideRight, bottom.width()));
        }
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(QFontMetrics(option.font).height() * 2 + 10);
        return size;
    }
};

Semantic bumpColour(VersionBump bump)
{
    switch (bump) {
    case VersionBump::patch:
        return Semantic::info;
    case VersionBump::major:
        return Semantic::danger;
    case VersionBump::minor:
    case VersionBump::other:
        return Semantic::caution;
    }
    return Semantic::caution;
}

// "Major", "Minor" or "Patch" as a small rounded chip in the bump's colour.
class BumpDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem plain = option;
        initStyleOption(&plain, index);
        plain.text.clear();
        QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &plain, painter, plain.widget);
        const QVariant raw = index.data(bumpRole);
        if (!raw.isValid())
            return;
        const auto bump = VersionBump(raw.toInt());
        const QColor colour = semanticColor(bumpColour(bump), option.palette);
        const QString text = index.data(Qt::DisplayRole).toString();
        QFont font = option.font;
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() * 0.85);
        const QFontMetrics metrics(font);
        const int padding = metrics.height() / 2;
        QRect chip(0, 0, metrics.horizontalAdvance(text) + 2 * padding, metrics.height() + 4);
        chip.moveCenter(option.rect.center());
        chip.moveLeft(option.rect.left() + 6);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QColor fill = colour;
        fill.setAlpha(isDark(option.palette) ? 60 : 36);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(chip, chip.height() / 2.0, chip.height() / 2.0);
        painter->setPen(colour);
        painter->setFont(font);
        painter->drawText(chip, Qt::AlignCenter, text);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setWidth(std::max(size.width(),
                               QFontMetrics(option.font).horizontalAdvance(QStringLiteral("Major")) + 40));
        return size;
    }
};

QString counted(qsizetype n, const char* one, const char* many)
{
    return QString::fromUtf8(n == 1 ? one : many).arg(n);
}

QLabel* mutedLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(true);
    return label;
}

QLabel* boldLabel(const QString& text, QWidget* parent, double scale = 1.0)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    if (scale != 1.0)
        font.setPointSizeF(font.pointSizeF() * scale);
    label->setFont(font);
    return label;
}

} // namespace

PackagesTab::PackagesTab(ComposerService& composer, PackageUpdateCoordinator& updates,
                         PackagistClient& packagist, SitePtr site, QWidget* parent)
    : QWidget(parent), m_composer(composer), m_updates(updates), m_packagist(packagist),
      m_site(std::move(site)), m_openUrl([](const QUrl& url) { QDesktopServices::openUrl(url); })
{
    auto* layout = new QVBoxLayout(this);

    // Header: what the site runs on, and the two actions.
    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(boldLabel(tr("Composer Packages"), this, 1.2));
    m_summary = mutedLabel(QString(), this);
    titles->addWidget(m_summary);
    header->addLayout(titles, 1);
    m_checkButton =
        new QPushButton(QIcon::fromTheme(QStringLiteral("view-refresh")), tr("Check for Updates"), this);
    m_checkButton->setToolTip(tr("Ask Composer which direct dependencies have newer versions"));
    m_updateButton = new QPushButton(QIcon::fromTheme(QStringLiteral("system-software-update")),
                                     QStringLiteral("Update packages"), this);
    m_updateButton->setDefault(true);
    m_addonsButton = new QPushButton(QIcon::fromTheme(QStringLiteral("list-add")), tr("Add-ons…"), this);
    m_addonsButton->setToolTip(tr("Browse the marketplace’s add-ons and add one to this site"));
    connect(m_addonsButton, &QPushButton::clicked, this, &PackagesTab::addonsRequested);
    header->addWidget(m_addonsButton, 0, Qt::AlignBottom);
    header->addWidget(m_checkButton, 0, Qt::AlignBottom);
    header->addWidget(m_updateButton, 0, Qt::AlignBottom);
    layout->addLayout(header);
    m_status = mutedLabel(QString(), this);
    layout->addWidget(m_status);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->setChildrenCollapsible(false);
    layout->addWidget(split, 1);

    // The list, or an empty state when nothing is installed.
    m_listStack = new QStackedWidget(split);
    buildList();
    auto* empty = new QWidget(m_listStack);
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->addStretch();
    auto* icon = new QLabel(empty);
    icon->setPixmap(QIcon::fromTheme(QStringLiteral("package-x-generic")).pixmap(64, 64));
    icon->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(icon);
    auto* emptyTitle = boldLabel(tr("No packages installed"), empty);
    emptyTitle->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(emptyTitle);
    auto* emptyText =
        mutedLabel(tr("Install the site’s dependencies with Composer, then they are listed here."), empty);
    emptyText->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(emptyText);
    auto* installAll =
        new QPushButton(QIcon::fromTheme(QStringLiteral("run-install")), tr("Install Packages"), empty);
    installAll->setObjectName(QStringLiteral("installPackages"));
    emptyLayout->addSpacing(6);
    emptyLayout->addWidget(installAll, 0, Qt::AlignHCenter);
    emptyLayout->addStretch();
    connect(installAll, &QPushButton::clicked, this, [this, installAll] {
        fireAndForget(this, [](PackagesTab* tab, QPushButton* button) -> QCoro::Task<> {
            const LifeToken alive = tab->m_life.token();
            button->setEnabled(false);
            tab->setStatus(tr("Installing packages…"));
            try {
                const QStringList args{QStringLiteral("install"), QStringLiteral("--no-progress")};
                co_await tab->m_composer.run(tab->m_site, args);
                if (!alive)
                    co_return;
                tab->setStatus(QString());
                tab->reload();
            } catch (const HalvikError& error) {
                if (!alive)
                    co_return;
                tab->setStatus(error.description().section(QLatin1Char('\n'), 0, 0), true);
            }
            button->setEnabled(true);
        }(this, installAll));
    });
    m_listStack->addWidget(empty);
    split->addWidget(m_listStack);

    // The running or last update.
    m_updatePanel = new QWidget(split);
    auto* panel = new QVBoxLayout(m_updatePanel);
    panel->setContentsMargins(0, 6, 0, 0);
    auto* stateRow = new QHBoxLayout;
    m_updateState = boldLabel(QString(), m_updatePanel);
    stateRow->addWidget(m_updateState, 1);
    m_detailsButton = new QPushButton(tr("See details"), m_updatePanel);
    m_detailsButton->setCheckable(true);
    m_cancelButton =
        new QPushButton(QIcon::fromTheme(QStringLiteral("process-stop")), tr("Cancel"), m_updatePanel);
    stateRow->addWidget(m_detailsButton);
    stateRow->addWidget(m_cancelButton);
    panel->addLayout(stateRow);
    m_progress = new QProgressBar(m_updatePanel);
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setMaximumHeight(m_progress->sizeHint().height() * 2 / 3);
    panel->addWidget(m_progress);

    m_detailArea = new QSplitter(Qt::Horizontal, m_updatePanel);
    auto* detailSplit = static_cast<QSplitter*>(m_detailArea);
    m_log = new LiveLogView(detailSplit);
    m_log->setAccessibleName(tr("Update log"));
    detailSplit->addWidget(m_log);
    auto* adviceScroll = new QScrollArea(detailSplit);
    adviceScroll->setWidgetResizable(true);
    adviceScroll->setFrameShape(QFrame::NoFrame);
    adviceScroll->setMinimumWidth(260);
    m_advicePanel = new QWidget(adviceScroll);
    m_adviceLayout = new QVBoxLayout(m_advicePanel);
    m_adviceLayout->setContentsMargins(4, 0, 0, 0);
    m_adviceLayout->setSpacing(8);
    m_adviceLayout->addStretch();
    adviceScroll->setWidget(m_advicePanel);
    detailSplit->addWidget(adviceScroll);
    detailSplit->setStretchFactor(0, 3);
    detailSplit->setStretchFactor(1, 2);
    detailSplit->setChildrenCollapsible(false);
    adviceScroll->hide();
    panel->addWidget(m_detailArea, 1);
    split->addWidget(m_updatePanel);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    m_updatePanel->hide();

    // Adding a package at a published version.
    auto* add = new QHBoxLayout;
    add->addWidget(new QLabel(tr("Add package"), this));
    m_packageField = new QLineEdit(this);
    m_packageField->setPlaceholderText(QStringLiteral("vendor/package"));
    m_packageField->setClearButtonEnabled(true);
    add->addWidget(m_packageField, 2);
    m_versions = new QComboBox(this);
    m_versions->setMinimumContentsLength(18);
    m_versions->setAccessibleName(tr("Version"));
    m_versions->addItem(tr("Latest"), QString());
    add->addWidget(m_versions, 1);
    m_installButton = new QPushButton(QIcon::fromTheme(QStringLiteral("list-add")), tr("Install"), this);
    m_installButton->setEnabled(false);
    add->addWidget(m_installButton);
    layout->addLayout(add);

    connect(m_checkButton, &QPushButton::clicked, this,
            [this] { fireAndForget(this, checkForUpdates(true)); });
    connect(m_updateButton, &QPushButton::clicked, this, [this] { m_updates.start(m_site); });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { m_updates.cancel(m_site->id()); });
    connect(m_detailsButton, &QPushButton::toggled, m_detailArea, &QWidget::setVisible);
    connect(&m_updates, &PackageUpdateCoordinator::jobStarted, this, [this](const QUuid& id) {
        if (id == m_site->id())
            attachJob(m_updates.job(id));
    });
    connect(m_packageField, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_installButton->setEnabled(text.trimmed().contains(QLatin1Char('/')));
    });
    connect(m_packageField, &QLineEdit::editingFinished, this, [this] {
        const QString name = m_packageField->text().trimmed();
        if (name.contains(QLatin1Char('/')) && m_versions->property("package").toString() != name)
            fireAndForget(this, loadVersions(name));
    });
    connect(m_installButton, &QPushButton::clicked, this, [this] { fireAndForget(this, installPackage()); });

    reload();
    if (PackageUpdateJob* existing = m_updates.job(m_site->id()))
        attachJob(existing);
}

PackagesTab::~PackagesTab()
{
    m_life.end();
}

void PackagesTab::buildList()
{
    m_model = new QStandardItemModel(0, columnCount, this);
    m_model->setHorizontalHeaderLabels({tr("Package"), tr("Installed"), tr("Available"), tr("Update")});
    m_list = new QTreeView(m_listStack);
    m_list->setModel(m_model);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAlternatingRowColors(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSortingEnabled(false);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setItemDelegateForColumn(nameColumn, new NameDelegate(m_list));
    m_list->setItemDelegateForColumn(kindColumn, new BumpDelegate(m_list));
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(nameColumn, QHeaderView::Stretch);
    m_list->header()->setSectionResizeMode(installedColumn, QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(availableColumn, QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(kindColumn, QHeaderView::Fixed);
    m_list->header()->resizeSection(kindColumn, 96);
    m_list->setAccessibleName(tr("Installed packages"));
    connect(m_list, &QTreeView::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = m_list->indexAt(at);
        if (!index.isValid())
            return;
        QMenu* menu = menuForRow(index.row());
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_list->viewport()->mapToGlobal(at));
    });
    m_listStack->addWidget(m_list);
}

void PackagesTab::reload()
{
    m_manifest = ComposerService::readManifest(*m_site);
    QStringList parts;
    if (m_manifest.phpConstraint)
        parts << QStringLiteral("PHP ") + *m_manifest.phpConstraint;
    if (m_manifest.laravelVersion)
        parts << QStringLiteral("Laravel ") + *m_manifest.laravelVersion;
    if (m_manifest.quillmarVersion)
        parts << QStringLiteral("Quillmar ") + *m_manifest.quillmarVersion;
    parts << title(m_manifest.contentStorage);
    parts << counted(m_manifest.packages.size(), "%1 package", "%1 packages");
    m_summary->setText(parts.join(QStringLiteral("  ·  ")));
    if (const auto cached = m_composer.cachedOutdated(*m_site))
        m_outdated = *cached;
    fillRows();
    if (!m_composer.cachedOutdated(*m_site) && !m_manifest.packages.isEmpty())
        fireAndForget(this, checkForUpdates(false));
}

void PackagesTab::fillRows()
{
    m_listStack->setCurrentIndex(m_manifest.packages.isEmpty() ? 1 : 0);
    m_model->removeRows(0, m_model->rowCount());
    QHash<QString, const OutdatedPackage*> behind;
    for (const OutdatedPackage& package : std::as_const(m_outdated))
        behind.insert(package.name, &package);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    for (const InstalledPackage& package : std::as_const(m_manifest.packages)) {
        auto* name = new QStandardItem(package.name);
        name->setToolTip(package.description.value_or(package.name));
        name->setData(package.description.value_or(QString()), descriptionRole);
        name->setData(package.name, Qt::UserRole);
        auto* installed = new QStandardItem(package.version);
        installed->setFont(fixed);
        auto* available = new QStandardItem;
        available->setFont(fixed);
        auto* kind = new QStandardItem;
        if (const OutdatedPackage* outdated = behind.value(package.name); outdated && outdated->latest) {
            available->setText(*outdated->latest);
            const VersionBump bump =
                VersionBumps::compare(outdated->current.value_or(package.version), *outdated->latest);
            if (bump != VersionBump::other) {
                kind->setText(title(bump));
                kind->setData(int(bump), bumpRole);
                kind->setToolTip(
                    tr("%1 → %2").arg(outdated->current.value_or(package.version), *outdated->latest));
            }
        }
        m_model->appendRow({name, installed, available, kind});
    }
}

QMenu* PackagesTab::menuForRow(int row)
{
    const InstalledPackage package = m_manifest.packages.value(row);
    auto* menu = new QMenu(this);
    menu->addAction(QIcon::fromTheme(QStringLiteral("edit-copy")), tr("Copy Name"), this,
                    [name = package.name] { QGuiApplication::clipboard()->setText(name); });
    QAction* github = menu->addAction(QIcon::fromTheme(QStringLiteral("applications-internet")),
                                      tr("Open on GitHub"), this, [this, url = package.repositoryURL] {
                                          if (url)
                                              m_openUrl(*url);
                                      });
    github->setEnabled(package.repositoryURL &&
                       package.repositoryURL->host().endsWith(QLatin1String("github.com")));
    menu->addAction(QIcon::fromTheme(QStringLiteral("applications-internet")), tr("Open on Packagist"), this,
                    [this, name = package.name] {
                        m_openUrl(QUrl(QStringLiteral("https://packagist.org/packages/") + name));
                    });
    menu->addSeparator();
    menu->addAction(tr("Choose Version…"), this, [this, name = package.name] {
        m_packageField->setText(name);
        fireAndForget(this, loadVersions(name));
        m_versions->setFocus();
    });
    return menu;
}

QCoro::Task<> PackagesTab::checkForUpdates(bool force)
{
    if (m_checking)
        co_return;
    const LifeToken alive = m_life.token();
    m_checking = true;
    m_checkButton->setEnabled(false);
    setStatus(tr("Checking for updates…"));
    try {
        QList<OutdatedPackage> list = co_await m_composer.outdated(m_site, force);
        if (!alive)
            co_return;
        m_outdated = std::move(list);
        fillRows();
        setStatus(m_outdated.isEmpty()
                      ? tr("Every direct dependency is up to date.")
                      : counted(m_outdated.size(), "%1 update available", "%1 updates available"));
    } catch (const HalvikError& error) {
        if (!alive)
            co_return;
        setStatus(error.description().section(QLatin1Char('\n'), 0, 0), true);
    }
    m_checking = false;
    m_checkButton->setEnabled(true);
}

void PackagesTab::setStatus(const QString& text, bool problem)
{
    m_status->setText(text);
    QPalette palette = this->palette();
    if (problem)
        palette.setColor(QPalette::WindowText, semanticColor(Semantic::danger, palette));
    m_status->setPalette(palette);
    m_status->setForegroundRole(problem ? QPalette::WindowText : QPalette::PlaceholderText);
}

QString PackagesTab::statusText() const
{
    return m_status->text();
}

QString PackagesTab::updateStateText() const
{
    return m_updatePanel->isVisible() ? m_updateState->text() : QString();
}

QStringList PackagesTab::adviceTitles() const
{
    return m_adviceTitles;
}

void PackagesTab::attachJob(PackageUpdateJob* job)
{
    if (m_job)
        m_job->disconnect(this);
    m_job = job;
    if (!job)
        return;
    m_updatePanel->show();
    m_log->setLog(job->log());
    showAdvice(QString());
    connect(job, &PackageUpdateJob::logAppended, this,
            [this](const QString& text, bool) { m_log->appendBatch(text); });
    connect(job, &PackageUpdateJob::progressChanged, this,
            [this](double fraction) { m_progress->setValue(int(fraction * 1000)); });
    connect(job, &PackageUpdateJob::finished, this, [this] {
        showJobState();
        reload();
        if (m_job && m_job->succeeded())
            fireAndForget(this, checkForUpdates(true));
    });
    showJobState();
}

void PackagesTab::showJobState()
{
    if (!m_job)
        return;
    const bool running = !m_job->isFinished();
    m_progress->setValue(int(m_job->fractionComplete() * 1000));
    m_progress->setVisible(running);
    m_cancelButton->setVisible(running);
    m_updateButton->setEnabled(!running);
    QPalette palette = this->palette();
    if (running) {
        m_updateState->setText(tr("Updating packages…"));
        m_detailsButton->hide();
        m_detailArea->show();
    } else if (m_job->succeeded()) {
        m_updateState->setText(QStringLiteral("Packages updated"));
        palette.setColor(QPalette::WindowText, semanticColor(Semantic::success, palette));
        m_detailsButton->show();
        m_detailsButton->setChecked(false);
        m_detailArea->hide();
    } else if (m_job->errorMessage() == QStringLiteral("Cancelled")) {
        m_updateState->setText(QStringLiteral("Update cancelled."));
        m_detailsButton->show();
        m_detailsButton->setChecked(false);
        m_detailArea->hide();
    } else {
        m_updateState->setText(QStringLiteral("Update failed"));
        palette.setColor(QPalette::WindowText, semanticColor(Semantic::danger, palette));
        showAdvice(m_job->errorMessage().value_or(QString()));
        m_detailsButton->show();
        m_detailsButton->setChecked(true);
        m_detailArea->show();
    }
    m_updateState->setPalette(palette);
}

void PackagesTab::showAdvice(const QString& output)
{
    while (m_adviceLayout->count() > 1) {
        QLayoutItem* item = m_adviceLayout->takeAt(0);
        delete item->widget();
        delete item;
    }
    m_adviceTitles.clear();
    QWidget* scroll = m_advicePanel->parentWidget() ? m_advicePanel->parentWidget()->parentWidget() : nullptr;
    const QList<ConflictAdvice> advice = ConflictTranslator::translate(output);
    if (scroll)
        scroll->setVisible(!advice.isEmpty());
    int at = 0;
    for (const ConflictAdvice& item : advice) {
        m_adviceTitles << item.title;
        auto* box = new QWidget(m_advicePanel);
        auto* boxLayout = new QVBoxLayout(box);
        boxLayout->setContentsMargins(10, 8, 10, 10);
        box->setAutoFillBackground(true);
        QPalette tinted = box->palette();
        QColor tint = semanticColor(Semantic::caution, tinted);
        tint.setAlpha(isDark(tinted) ? 50 : 28);
        tinted.setColor(QPalette::Window, tint);
        box->setPalette(tinted);
        auto* heading = new QHBoxLayout;
        auto* icon = new QLabel(box);
        const QIcon warning = QIcon::fromTheme(QStringLiteral("dialog-warning"));
        icon->setPixmap(warning.pixmap(16, 16));
        icon->setVisible(!warning.isNull());
        heading->addWidget(icon, 0, Qt::AlignTop);
        QLabel* adviceTitle = boldLabel(item.title, box);
        adviceTitle->setWordWrap(true);
        heading->addWidget(adviceTitle, 1);
        boxLayout->addLayout(heading);
        auto* detail = new QLabel(item.detail, box);
        detail->setWordWrap(true);
        detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
        boxLayout->addWidget(detail);
        m_adviceLayout->insertWidget(at++, box);
    }
}

QCoro::Task<> PackagesTab::loadVersions(QString package)
{
    const LifeToken alive = m_life.token();
    m_versions->clear();
    m_versions->addItem(tr("Latest"), QString());
    m_versions->setProperty("package", package);
    m_versions->setEnabled(false);
    try {
        const QList<PackagistVersion> versions = co_await m_packagist.versions(package);
        if (!alive)
            co_return;
        for (const PackagistVersion& version : versions) {
            QString label = version.version;
            if (version.requirePHP)
                label += QStringLiteral("  ·  PHP ") + *version.requirePHP;
            if (version.abandoned)
                label += tr("  ·  abandoned");
            m_versions->addItem(label, version.version);
        }
        setStatus(counted(versions.size(), "%1 published version of ", "%1 published versions of ") +
                  package);
    } catch (const HalvikError& error) {
        if (!alive)
            co_return;
        setStatus(error.description(), true);
    }
    m_versions->setEnabled(true);
}

QCoro::Task<> PackagesTab::installPackage()
{
    const LifeToken alive = m_life.token();
    const QString package = m_packageField->text().trimmed();
    const QString version = m_versions->currentData().toString();
    m_installButton->setEnabled(false);
    setStatus(tr("Installing %1…").arg(package));
    try {
        const QString done = co_await m_composer.requirePackage(m_site, package, version);
        if (!alive)
            co_return;
        setStatus(done);
        m_packageField->clear();
        reload();
    } catch (const HalvikError& error) {
        if (!alive)
            co_return;
        const QList<ConflictAdvice> advice = ConflictTranslator::translate(error.description());
        setStatus(advice.isEmpty() ? error.description()
                                   : advice.first().title + QStringLiteral(": ") + advice.first().detail,
                  true);
    }
    m_installButton->setEnabled(true);
}

} // namespace halvik::views
