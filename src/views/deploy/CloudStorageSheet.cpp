#include "views/deploy/CloudStorageSheet.h"

#include "views/accounts/AccountWidgets.h"
#include "views/common/FileManager.h"

#include "async/FireAndForget.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

const QStringList kStepNames{QStringLiteral("Working copy"), QStringLiteral("Destination"),
                             QStringLiteral("Prepare site"), QStringLiteral("Copy and configure")};

// The step of the sheet a stage belongs to: reading the site and its copy are the first.
int stepOf(CloudStorageStage stage)
{
    switch (stage) {
    case CloudStorageStage::inspect:
        return 0;
    case CloudStorageStage::check:
        return 1;
    case CloudStorageStage::prepare:
        return 2;
    case CloudStorageStage::copyAndConfigure:
        return 3;
    case CloudStorageStage::complete:
        break;
    }
    return 4;
}

// What "Continue" does next, shown while nothing runs.
QString nextStepText(CloudStorageStage stage)
{
    switch (stage) {
    case CloudStorageStage::inspect:
        return s("Continue to read the site’s content, users and asset containers.");
    case CloudStorageStage::check:
        return s("Continue to make a private working copy and check the database and bucket.");
    case CloudStorageStage::prepare:
        return s("Continue to convert the chosen content and users inside the working copy.");
    case CloudStorageStage::copyAndConfigure:
        return s("Copy data, update this local site, and save Cloud configuration.");
    case CloudStorageStage::complete:
        break;
    }
    return s("Review and push the prepared code changes to deploy.");
}

QLabel* choiceNote(const QString& text, QWidget* parent)
{
    auto* note = new ToneLabel(text, Tone::muted, parent);
    note->setContentsMargins(26, 0, 0, 6);
    return note;
}

} // namespace

QString CloudStorageSheet::repositoryDescription(const QString& repository)
{
    static const QMap<QString, QString> descriptions{
        {s("entries"), s("Content in all collections, including drafts and localizations.")},
        {s("collection_trees"), s("Page trees and ordering for structured collections.")},
        {s("global_variables"), s("Editable values in your global sets.")},
        {s("nav_trees"), s("Navigation links and their order.")},
        {s("terms"), s("Term content and entry relationships.")},
        {s("form_submissions"), s("Stored form responses. Form definitions stay in Git.")},
        {s("assets"), s("Asset titles and custom fields. Files are copied separately to object storage.")},
        {s("collections"), s("Collection definitions and settings.")},
        {s("globals"), s("Global set definitions.")},
        {s("navs"), s("Navigation definitions.")},
        {s("taxonomies"), s("Taxonomy definitions.")},
        {s("asset_containers"), s("Asset container definitions.")},
        {s("blueprints"), s("Field layouts and validation rules.")},
        {s("fieldsets"), s("Reusable field definitions.")},
        {s("forms"), s("Form definitions and settings.")},
        {s("sites"), s("Multisite definitions.")},
        {s("revisions"), s("Saved content revisions, when enabled.")},
        {s("addon_settings"), s("Settings stored by compatible addons.")},
        {s("tokens"), s("Quillmar authentication tokens.")}};
    return descriptions.value(repository);
}

QString CloudStorageSheet::usersDescription()
{
    return s("Preserves user IDs, passwords, roles, groups, and supported authentication fields. Custom user "
             "fields require matching database columns.");
}

CloudStorageSheet::CloudStorageSheet(CloudStorageSession& session, bool connected, QWidget* parent)
    : QDialog(parent), m_session(&session), m_connected(connected)
{
    setWindowTitle(s("Cloud storage"));
    setObjectName("cloudStorageSheet");
    setMinimumSize(720, 640);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 18, 22, 16);
    layout->addWidget(headingLabel(s("Cloud storage for %1").arg(m_session->site()->displayName()), 2, this));
    layout->addWidget(
        new ToneLabel(s("Moves content, users and assets to a database and a bucket so the site runs "
                        "on Laravel Cloud. The site stays as it is until the last step, which keeps "
                        "a backup."),
                      Tone::muted, this));

    auto* steps = new QHBoxLayout;
    steps->setSpacing(18);
    for (int i = 0; i < kStepNames.size(); ++i) {
        auto* step = new QLabel(this);
        step->setObjectName(QStringLiteral("storageStep%1").arg(i));
        m_steps << step;
        steps->addWidget(step);
    }
    steps->addStretch();
    layout->addLayout(steps);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* body = new QWidget(scroll);
    auto* bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(0, 0, 8, 0);

    auto line = [this](const QString& name, const QString& placeholder, bool secret = false) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setPlaceholderText(placeholder);
        if (secret)
            edit->setEchoMode(QLineEdit::Password);
        connect(edit, &QLineEdit::textChanged, this, &CloudStorageSheet::sync);
        m_fields.insert(name, edit);
        return edit;
    };
    m_databaseGroup = new QGroupBox(s("Database"), body);
    m_databaseGroup->setCheckable(true);
    auto* database = new QFormLayout(m_databaseGroup);
    m_driver = new QComboBox(m_databaseGroup);
    m_driver->addItem(s("PostgreSQL"), s("pgsql"));
    m_driver->addItem(s("MySQL"), s("mysql"));
    m_port = new QSpinBox(m_databaseGroup);
    m_port->setRange(1, 65535);
    m_port->setValue(5432);
    connect(m_driver, &QComboBox::currentIndexChanged, this, [this] {
        m_port->setValue(m_driver->currentData().toString() == QLatin1String("mysql") ? 3306 : 5432);
    });
    database->addRow(s("Driver"), m_driver);
    auto* hostRow = new QHBoxLayout;
    hostRow->addWidget(line(s("host"), s("db.example.com")), 1);
    hostRow->addWidget(new QLabel(s("Port"), m_databaseGroup));
    hostRow->addWidget(m_port);
    database->addRow(s("Host"), hostRow);
    database->addRow(s("Database"), line(s("name"), s("content")));
    database->addRow(s("User name"), line(s("username"), QString()));
    database->addRow(s("Password"), line(s("password"), QString(), true));
    database->addRow(s("SSL mode"), line(s("sslmode"), s("require")));
    connect(m_databaseGroup, &QGroupBox::toggled, this, &CloudStorageSheet::sync);
    bodyLayout->addWidget(m_databaseGroup);

    m_bucketGroup = new QGroupBox(s("Bucket"), body);
    m_bucketGroup->setCheckable(true);
    auto* bucket = new QFormLayout(m_bucketGroup);
    bucket->addRow(s("S3 endpoint"), line(s("endpoint"), s("https://s3.example.com")));
    bucket->addRow(s("Region"), line(s("region"), s("auto")));
    bucket->addRow(s("Bucket"), line(s("bucket"), s("site-assets")));
    bucket->addRow(s("Access key"), line(s("key"), QString()));
    bucket->addRow(s("Secret"), line(s("secret"), QString(), true));
    bucket->addRow(s("Public URL"), line(s("url"), s("https://assets.example.com")));
    connect(m_bucketGroup, &QGroupBox::toggled, this, &CloudStorageSheet::sync);
    bodyLayout->addWidget(m_bucketGroup);

    auto* contentGroup = new QGroupBox(s("Database content"), body);
    m_contentLayout = new QVBoxLayout(contentGroup);
    m_contentLayout->setSpacing(2);
    m_contentBox = contentGroup;
    bodyLayout->addWidget(contentGroup);
    auto* containersGroup = new QGroupBox(s("Object storage"), body);
    m_containersLayout = new QVBoxLayout(containersGroup);
    m_containersBox = containersGroup;
    bodyLayout->addWidget(containersGroup);
    bodyLayout->addStretch();
    scroll->setWidget(body);
    layout->addWidget(scroll, 3);

    m_statusLabel = new ToneLabel(QString(), Tone::plain, this);
    m_statusLabel->setObjectName("storageStatus");
    layout->addWidget(m_statusLabel);
    m_log = new QPlainTextEdit(this);
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(2000);
    m_log->setMinimumHeight(90);
    m_log->setMaximumHeight(150);
    layout->addWidget(m_log, 1);
    auto* errorRow = new QHBoxLayout;
    m_error = new ToneLabel(QString(), Tone::failure, this);
    m_error->setObjectName("storageError");
    m_copyErrors = new QPushButton(s("Copy errors"), this);
    connect(m_copyErrors, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_error->text()); });
    errorRow->addWidget(m_error, 1);
    errorRow->addWidget(m_copyErrors);
    layout->addLayout(errorRow);

    auto* buttons = new QHBoxLayout;
    m_startOver = new QPushButton(s("Start over"), this);
    m_showBackup = new QPushButton(s("Show backup"), this);
    m_showFiles = new QPushButton(s("Show setup files"), this);
    m_restore = new QPushButton(s("Restore"), this);
    m_restore->setToolTip(
        s("Restores the files this setup changed. Cloud data is kept for a verified retry."));
    auto* close = new QPushButton(s("Close"), this);
    m_continue = new QPushButton(s("Continue"), this);
    m_continue->setDefault(true);
    m_cancel = new QPushButton(s("Cancel"), this);
    m_cancel->setToolTip(s("Stops this step. Continue runs it again from where the setup last saved."));
    buttons->addWidget(m_startOver);
    buttons->addWidget(m_showBackup);
    buttons->addWidget(m_showFiles);
    buttons->addWidget(m_restore);
    buttons->addStretch();
    buttons->addWidget(close);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_continue);
    layout->addLayout(buttons);

    connect(m_continue, &QPushButton::clicked, this, &CloudStorageSheet::continueSetup);
    connect(m_cancel, &QPushButton::clicked, this, &CloudStorageSheet::cancelStep);
    connect(m_restore, &QPushButton::clicked, this, &CloudStorageSheet::restore);
    connect(m_startOver, &QPushButton::clicked, this, &CloudStorageSheet::startOver);
    connect(m_showBackup, &QPushButton::clicked, this,
            [this] { showInFileManager(m_session->folder() + QStringLiteral("/before")); });
    connect(m_showFiles, &QPushButton::clicked, this, [this] { showInFileManager(m_session->folder()); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_session, &CloudStorageSession::changed, this, &CloudStorageSheet::sync);
    connect(m_session, &CloudStorageSession::logLine, this,
            [this](const QString& text) { m_log->appendPlainText(text); });

    fillFromSession();
    sync();
}

CloudStorageSheet::~CloudStorageSheet() = default;

void CloudStorageSheet::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // The steps' colours come from the palette: a switch to the dark scheme repaints them.
    if (event->type() == QEvent::PaletteChange)
        sync();
}

void CloudStorageSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_log->verticalScrollBar()->setValue(m_log->verticalScrollBar()->maximum());
}

void CloudStorageSheet::fillFromSession()
{
    const CloudStoragePlan plan = m_session->plan();
    m_databaseGroup->setChecked(plan.database.has_value() || !plan.bucket);
    if (plan.database) {
        m_driver->setCurrentIndex(plan.database->driver == QLatin1String("mysql") ? 1 : 0);
        m_fields[s("host")]->setText(plan.database->host);
        m_port->setValue(plan.database->port);
        m_fields[s("name")]->setText(plan.database->name);
        m_fields[s("username")]->setText(plan.database->username);
        m_fields[s("password")]->setText(plan.database->password);
        m_fields[s("sslmode")]->setText(plan.database->sslmode);
    }
    m_bucketGroup->setChecked(plan.bucket.has_value() || !plan.database);
    if (plan.bucket) {
        m_fields[s("endpoint")]->setText(plan.bucket->endpoint);
        m_fields[s("region")]->setText(plan.bucket->region);
        m_fields[s("bucket")]->setText(plan.bucket->name);
        m_fields[s("key")]->setText(plan.bucket->key);
        m_fields[s("secret")]->setText(plan.bucket->secret);
        m_fields[s("url")]->setText(plan.bucket->url);
    }
    for (const QString& line : m_session->log())
        m_log->appendPlainText(line);
    rebuildChoices();
}

void CloudStorageSheet::rebuildChoices()
{
    for (QWidget* child : m_contentBox->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        delete child;
    for (QWidget* child : m_containersBox->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        delete child;
    m_repositories.clear();
    m_containers.clear();
    m_users = nullptr;
    const CloudStoragePlan plan = m_session->plan();
    const auto& inventory = m_session->checkpoint().inventory;
    if (!inventory) {
        m_contentLayout->addWidget(
            new ToneLabel(s("Continue to read the site’s content."), Tone::muted, m_contentBox));
        m_containersLayout->addWidget(
            new ToneLabel(s("Continue to list the site’s asset containers."), Tone::muted, m_containersBox));
        return;
    }
    const QMap<QString, int> counts{
        {s("entries"), inventory->entries}, {s("terms"), inventory->terms}, {s("assets"), inventory->assets}};
    // What the local database already keeps has to move with the rest: shown, checked, fixed.
    const QStringList& stored = inventory->configuredRepositories;
    QStringList shown = plan.repositories;
    QStringList offered{s("entries"), s("terms"), s("assets")};
    offered += stored;
    for (const QString& repository : offered)
        if (!shown.contains(repository) && movableRepositories().contains(repository))
            shown << repository;
    // One this setup cannot move: no choice here helps, so the check's sentence shows up front.
    if (const auto problem = configuredRepositoriesProblem(stored, movableRepositories())) {
        auto* note = new ToneLabel(*problem, Tone::failure, m_contentBox);
        note->setObjectName(QStringLiteral("storageRepositoriesProblem"));
        note->setWordWrap(true);
        note->setContentsMargins(0, 0, 0, 6);
        m_contentLayout->addWidget(note);
    }
    for (const QString& repository : shown) {
        QString title = repository.at(0).toUpper() + repository.mid(1);
        title.replace(QLatin1Char('_'), QLatin1Char(' '));
        if (counts.contains(repository))
            title += s(" (%1)").arg(counts.value(repository));
        const bool inDatabase = stored.contains(repository);
        if (inDatabase)
            title += s(" · in the local database");
        auto* box = new QCheckBox(title, m_contentBox);
        box->setChecked(inDatabase || plan.repositories.contains(repository));
        if (inDatabase) {
            box->setEnabled(false);
            box->setToolTip(s("Include every repository already stored in the local database."));
        }
        m_repositories.insert(repository, box);
        m_contentLayout->addWidget(box);
        m_contentLayout->addWidget(choiceNote(repositoryDescription(repository), m_contentBox));
    }
    m_users = new QCheckBox(s("Users (%1)").arg(inventory->users), m_contentBox);
    m_users->setChecked(plan.users);
    m_users->setEnabled(inventory->userRepository == QLatin1String("file"));
    m_contentLayout->addWidget(m_users);
    m_contentLayout->addWidget(choiceNote(usersDescription(), m_contentBox));
    for (const CloudStorageContainer& container : inventory->containers) {
        auto* box = new QCheckBox(
            s("%1 — %2 files on disk “%3”").arg(container.title).arg(container.files).arg(container.disk),
            m_containersBox);
        box->setChecked(plan.containers.contains(container.id));
        m_containers.insert(container.id, box);
        m_containersLayout->addWidget(box);
    }
    if (inventory->containers.isEmpty())
        m_containersLayout->addWidget(
            new ToneLabel(s("No asset containers on local disks."), Tone::muted, m_containersBox));
}

CloudStoragePlan CloudStorageSheet::formPlan() const
{
    CloudStoragePlan plan = m_session->plan();
    if (m_databaseGroup->isChecked()) {
        CloudStoragePlan::Database database;
        database.driver = m_driver->currentData().toString();
        database.host = m_fields[s("host")]->text().trimmed();
        database.port = m_port->value();
        database.name = m_fields[s("name")]->text().trimmed();
        database.username = m_fields[s("username")]->text().trimmed();
        database.password = m_fields[s("password")]->text();
        const QString sslmode = m_fields[s("sslmode")]->text().trimmed();
        if (!sslmode.isEmpty())
            database.sslmode = sslmode;
        plan.database = database;
    } else {
        plan.database.reset();
    }
    if (m_bucketGroup->isChecked()) {
        CloudStoragePlan::Bucket bucket;
        bucket.endpoint = m_fields[s("endpoint")]->text().trimmed();
        const QString region = m_fields[s("region")]->text().trimmed();
        if (!region.isEmpty())
            bucket.region = region;
        bucket.name = m_fields[s("bucket")]->text().trimmed();
        bucket.key = m_fields[s("key")]->text().trimmed();
        bucket.secret = m_fields[s("secret")]->text();
        bucket.url = m_fields[s("url")]->text().trimmed();
        plan.bucket = bucket;
    } else {
        plan.bucket.reset();
    }
    if (!m_repositories.isEmpty()) {
        plan.repositories.clear();
        for (auto it = m_repositories.begin(); it != m_repositories.end(); ++it)
            if (it.value()->isChecked())
                plan.repositories << it.key();
        plan.users = m_users && m_users->isChecked();
        plan.containers.clear();
        for (auto it = m_containers.begin(); it != m_containers.end(); ++it)
            if (it.value()->isChecked())
                plan.containers << it.key();
        plan.assets = plan.bucket.has_value() && !plan.containers.isEmpty();
    }
    return plan;
}

void CloudStorageSheet::sync()
{
    // A step that finished while the sheet was closed may have read the site meanwhile.
    if (m_session->checkpoint().inventory && !m_users)
        rebuildChoices();
    const CloudStorageCheckpoint& checkpoint = m_session->checkpoint();
    const int current = stepOf(checkpoint.stage);
    const QPalette& palette = this->palette();
    for (int i = 0; i < m_steps.size(); ++i) {
        QString mark;
        QColor colour = palette.color(QPalette::PlaceholderText);
        bool bold = false;
        if (i < current) {
            mark = s("✓ ");
            colour = toneColor(Tone::success, palette);
        } else if (i == current) {
            mark = s("● ");
            colour = palette.color(QPalette::Highlight);
            bold = true;
        } else {
            mark = s("○ ");
        }
        m_steps[i]->setText(mark + kStepNames.at(i));
        m_steps[i]->setProperty("state", i < current ? "complete" : i == current ? "current" : "upcoming");
        m_steps[i]->setStyleSheet(
            s("color: %1; font-weight: %2;").arg(colour.name(), bold ? s("bold") : s("normal")));
    }
    const bool started = int(checkpoint.stage) > int(CloudStorageStage::check);
    const bool busy = isBusy();
    const bool complete = checkpoint.stage == CloudStorageStage::complete;
    for (QLineEdit* edit : std::as_const(m_fields))
        edit->setReadOnly(started || busy);
    m_databaseGroup->setEnabled(!started && !busy && m_connected);
    m_bucketGroup->setEnabled(!started && !busy && m_connected);
    m_contentBox->setEnabled(!started && !busy && m_connected);
    m_containersBox->setEnabled(!started && !busy && m_connected);

    if (!m_connected) {
        m_statusLabel->setText(s("Connect this site to Laravel Cloud before setting up storage."));
        m_statusLabel->setTone(Tone::muted);
    } else if (complete) {
        m_statusLabel->setText(s("Review and push the prepared code changes to deploy."));
        m_statusLabel->setTone(Tone::success);
    } else if (checkpoint.applying) {
        m_statusLabel->setText(
            s("Applying the local files was interrupted. Open the backup and restore the site "
              "before starting again."));
        m_statusLabel->setTone(Tone::failure);
    } else if (!busy && m_session->wasCancelled()) {
        m_statusLabel->setText(s("Cancelled."));
        m_statusLabel->setTone(Tone::muted);
    } else {
        m_statusLabel->setText(busy ? m_session->status() : nextStepText(checkpoint.stage));
        m_statusLabel->setTone(busy ? Tone::plain : Tone::muted);
    }
    const std::optional<QString> error = m_localError ? m_localError : m_session->error();
    m_error->setText(error.value_or(QString()));
    m_error->setVisible(error.has_value());
    m_copyErrors->setVisible(error.has_value());

    const bool valid = checkpoint.stage == CloudStorageStage::inspect || formPlan().isValid();
    m_continue->setEnabled(m_connected && !busy && !complete && !checkpoint.applying && valid);
    m_continue->setText(checkpoint.stage == CloudStorageStage::copyAndConfigure ? s("Copy and configure")
                                                                                : s("Continue"));
    m_cancel->setVisible(m_session->isRunning());
    m_cancel->setEnabled(m_session->canCancel());
    m_restore->setVisible(m_session->hasBackup());
    m_restore->setEnabled(!busy);
    m_showBackup->setVisible(m_session->hasBackup());
    m_showFiles->setEnabled(m_session->exists());
    m_startOver->setEnabled(!busy && m_session->exists() && !checkpoint.applying);
}

void CloudStorageSheet::continueSetup()
{
    if (isBusy())
        return;
    fireAndForget(this, runNext());
}

QCoro::Task<> CloudStorageSheet::runNext()
{
    const CloudStorageStage stage = m_session->stage();
    if (stage == CloudStorageStage::check || stage == CloudStorageStage::inspect) {
        const CloudStoragePlan plan = formPlan();
        m_session->setPlan(plan);
        // Fields left empty show the defaults the plan took, not a hint, once they are fixed.
        if (plan.database && m_fields[s("sslmode")]->text().trimmed().isEmpty())
            m_fields[s("sslmode")]->setText(plan.database->sslmode);
        if (plan.bucket && m_fields[s("region")]->text().trimmed().isEmpty())
            m_fields[s("region")]->setText(plan.bucket->region);
    }
    m_busy = true;
    m_localError.reset();
    sync();
    QPointer<CloudStorageSheet> self(this);
    CloudStorageSession* session = m_session;
    const CancellationToken cancel;
    try {
        switch (stage) {
        case CloudStorageStage::inspect:
            co_await session->inspect(cancel);
            break;
        case CloudStorageStage::check:
            co_await session->check(cancel);
            break;
        case CloudStorageStage::prepare:
            co_await session->prepare(cancel);
            break;
        case CloudStorageStage::copyAndConfigure:
            co_await session->copyAndConfigure(cancel);
            break;
        case CloudStorageStage::complete:
            break;
        }
    } catch (const HalvikError&) {
        // The session keeps the sentence; sync() shows it.
    }
    if (!self)
        co_return;
    m_busy = false;
    if (stage == CloudStorageStage::inspect)
        rebuildChoices();
    sync();
}

void CloudStorageSheet::cancelStep()
{
    m_session->cancel();
    sync();
}

void CloudStorageSheet::restore()
{
    if (m_busy)
        return;
    m_localError.reset();
    m_busy = true;
    sync();
    fireAndForget(this, [](QPointer<CloudStorageSheet> sheet, CloudStorageSession* session) -> QCoro::Task<> {
        std::optional<QString> failure;
        try {
            co_await session->restoreBackup();
        } catch (const HalvikError& error) {
            failure = error.description();
        }
        if (!sheet)
            co_return;
        sheet->m_busy = false;
        sheet->m_localError = failure;
        sheet->sync();
    }(QPointer<CloudStorageSheet>(this), m_session));
}

void CloudStorageSheet::startOver()
{
    m_localError.reset();
    try {
        m_session->discardForRestart();
    } catch (const HalvikError& error) {
        m_localError = error.description();
        sync();
        return;
    }
    m_log->clear();
    rebuildChoices();
    sync();
}

} // namespace halvik::views
