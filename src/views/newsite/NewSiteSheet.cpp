#include "views/newsite/NewSiteSheet.h"

#include "views/common/SemanticColors.h"
#include "views/newsite/InstallOverview.h"
#include "views/newsite/KitGrid.h"

#include "app/AppServices.h"
#include "app/InstallCoordinator.h"
#include "app/NewSitePreflight.h"
#include "async/FireAndForget.h"
#include "models/SiteStore.h"
#include "services/HerdService.h"
#include "services/accounts/SourceControlService.h"
#include "services/marketplace/QuillmarAPI.h"
#include "services/newsite/PhpRequirement.h"
#include "services/runtime/RuntimeManager.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QLabel* caption(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

} // namespace

NewSiteSheet::NewSiteSheet(AppServices& services, QWidget* parent) : QDialog(parent), m_services(services)
{
    setWindowTitle(tr("New Quillmar Site"));
    resize(760, 820);
    auto* layout = new QVBoxLayout(this);
    m_pages = new QStackedWidget(this);
    auto* scroll = new QScrollArea(m_pages);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(buildForm());
    m_pages->addWidget(scroll);
    layout->addWidget(m_pages, 1);

    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    m_problem->setObjectName(QStringLiteral("problem"));
    layout->addWidget(m_problem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_create = buttons->addButton(tr("Create"), QDialogButtonBox::AcceptRole);
    m_create->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_create, &QPushButton::clicked, this, [this] { fireAndForget(this, create()); });
    updatePHP();
    updateState();
}

QWidget* NewSiteSheet::buildForm()
{
    auto* form = new QWidget(this);
    auto* layout = new QVBoxLayout(form);

    auto* where = new QFormLayout;
    m_name = new QLineEdit(form);
    m_name->setPlaceholderText(tr("My Site"));
    where->addRow(tr("Name"), m_name);
    m_folder = new QLineEdit(m_services.preferences().resolvedSitesDirectory(), form);
    where->addRow(tr("Folder"), m_folder);
    m_slug = new QLabel(form);
    m_slug->setForegroundRole(QPalette::PlaceholderText);
    where->addRow(tr("Slug"), m_slug);
    layout->addLayout(where);

    auto* start = new QGroupBox(tr("Starting point"), form);
    auto* startLayout = new QVBoxLayout(start);
    m_kits = new KitGrid(start);
    m_kits->setMinimumHeight(280);
    startLayout->addWidget(m_kits);
    layout->addWidget(start);

    auto* cms = new QFormLayout;
    m_release = new QComboBox(form);
    m_release->addItem(tr("Latest"), QStringLiteral("latest"));
    cms->addRow(tr("Quillmar release"), m_release);
    m_php = new QLabel(form);
    m_php->setWordWrap(true);
    cms->addRow(tr("PHP"), m_php);
    layout->addLayout(cms);

    auto* storage = new QGroupBox(tr("Where do you want to store your content and data?"), form);
    auto* storageLayout = new QVBoxLayout(storage);
    storageLayout->addWidget(
        caption(tr("When in doubt, choose flat files. You can always change this later."), storage));
    m_flatFiles = new QRadioButton(tr("Flat files (typical)"), storage);
    m_flatFiles->setChecked(true);
    storageLayout->addWidget(m_flatFiles);
    storageLayout->addWidget(
        caption(tr("Store content and config in files so you can version control with git."), storage));
    m_database = new QRadioButton(tr("Database"), storage);
    storageLayout->addWidget(m_database);
    layout->addWidget(storage);

    auto* user = new QGroupBox(form);
    auto* userLayout = new QFormLayout(user);
    m_superUser = new QCheckBox(tr("Create a super user"), user);
    userLayout->addRow(m_superUser);
    m_adminName = new QLineEdit(user);
    userLayout->addRow(tr("Name"), m_adminName);
    m_email = new QLineEdit(user);
    m_email->setPlaceholderText(QStringLiteral("you@example.com"));
    userLayout->addRow(tr("Email"), m_email);
    m_password = new QLineEdit(user);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(tr("At least 8 characters"));
    userLayout->addRow(tr("Password"), m_password);
    layout->addWidget(user);

    auto* serving = new QGroupBox(tr("Local serving"), form);
    auto* servingLayout = new QVBoxLayout(serving);
    m_https = new QCheckBox(serving);
    m_https->setChecked(true);
    servingLayout->addWidget(m_https);
    m_serving = caption(QString(), serving);
    servingLayout->addWidget(m_serving);
    layout->addWidget(serving);

    auto* git = new QGroupBox(tr("Git"), form);
    auto* gitLayout = new QVBoxLayout(git);
    m_git = new QCheckBox(tr("Initialize a Git repository"), git);
    m_git->setChecked(true);
    gitLayout->addWidget(m_git);
    gitLayout->addWidget(
        caption(tr("Every change to your site is tracked, so you can always roll back."), git));
    m_github = new QCheckBox(tr("Create a remote repo on GitHub?"), git);
    gitLayout->addWidget(m_github);
    m_private = new QCheckBox(tr("Private repository"), git);
    m_private->setChecked(true);
    gitLayout->addWidget(m_private);
    m_githubNote = caption(tr("Connect GitHub under Source Control."), git);
    gitLayout->addWidget(m_githubNote);
    layout->addWidget(git);

    m_ssg = new QCheckBox(tr("Generate a static site?"), form);
    layout->addWidget(m_ssg);
    layout->addStretch();

    for (QLineEdit* field : {m_name, m_folder, m_email, m_password})
        connect(field, &QLineEdit::textChanged, this, &NewSiteSheet::updateState);
    for (QCheckBox* box : {m_superUser, m_https, m_git, m_github, m_private, m_ssg})
        connect(box, &QCheckBox::toggled, this, &NewSiteSheet::updateState);
    connect(m_kits, &KitGrid::retryRequested, this, [this] { fireAndForget(this, loadKits()); });
    connect(m_kits, &KitGrid::selectionChanged, this, &NewSiteSheet::updateState);
    connect(m_release, &QComboBox::currentIndexChanged, this, &NewSiteSheet::updatePHP);
    return form;
}

void NewSiteSheet::load()
{
    fireAndForget(this, loadKits());
    fireAndForget(this, loadReleases());
    fireAndForget(this, loadPHPVersion());
}

QCoro::Task<> NewSiteSheet::loadPHPVersion()
{
    QPointer<NewSiteSheet> alive = this;
    const auto php = m_services.runtime().resolvePHP(
        toRaw(m_services.preferences().phpSource(false, m_services.herd().engine().has_value())),
        QStringLiteral("new"), &m_services.herd(), std::nullopt);
    if (!php || !php->version.isEmpty())
        co_return;
    const std::optional<QString> version = co_await m_services.herd().phpVersion(php->path);
    if (!alive || !version)
        co_return;
    m_phpVersion = *version;
    updatePHP();
}

QString NewSiteSheet::destination() const
{
    const QString slug = HerdService::slug(m_name->text().trimmed());
    if (slug.isEmpty())
        return {};
    return QDir::cleanPath(QDir(m_folder->text().trimmed()).filePath(slug));
}

QCoro::Task<> NewSiteSheet::loadKits()
{
    QPointer<NewSiteSheet> alive = this;
    m_kits->showLoading();
    try {
        QList<MarketplaceStarterKit> kits = co_await m_services.marketplace().starterKits();
        if (!alive)
            co_return;
        m_kits->showKits(std::move(kits));
    } catch (const HalvikError& error) {
        if (alive)
            m_kits->showFailure(error.description());
    }
}

QCoro::Task<> NewSiteSheet::loadReleases()
{
    QPointer<NewSiteSheet> alive = this;
    try {
        const QList<int> majors{6, 5, 4, 3};
        const QList<QuillmarRelease> releases =
            co_await m_services.marketplace().stableQuillmarReleases(majors);
        if (alive)
            setReleases(releases);
    } catch (const HalvikError&) {
        // "Latest" stays the one choice.
    }
}

void NewSiteSheet::setReleases(const QList<QuillmarRelease>& releases)
{
    m_releases = releases;
    while (m_release->count() > 1)
        m_release->removeItem(1);
    for (const QuillmarRelease& release : releases)
        m_release->addItem(tr("Quillmar %1 (%2)").arg(release.major).arg(release.version), release.version);
    updatePHP();
}

void NewSiteSheet::updatePHP()
{
    const auto php = m_services.runtime().resolvePHP(
        toRaw(m_services.preferences().phpSource(false, m_services.herd().engine().has_value())),
        QStringLiteral("new"), &m_services.herd(), std::nullopt);
    if (!php) {
        m_php->setText(tr("No PHP found. Install more versions under Settings."));
        return;
    }
    const QString version = php->version.isEmpty() ? m_phpVersion : php->version;
    if (version.isEmpty()) {
        m_php->setText(php->path);
        m_php->setStyleSheet(QString());
        return;
    }
    QString requirement;
    for (const QuillmarRelease& release : m_releases)
        if (release.version == m_release->currentData().toString())
            requirement = release.requirePHP.value_or(QString());
    if (!requirement.isEmpty() && !PhpRequirement::satisfies(version, requirement)) {
        m_php->setText(
            tr("This PHP (%1) may be too old for this Quillmar (needs %2).").arg(version, requirement) +
            QLatin1Char('\n') + tr("Install more versions under Settings."));
        m_php->setStyleSheet(
            QStringLiteral("color: %1;").arg(semanticColor(Semantic::caution, palette()).name()));
    } else {
        m_php->setText(version);
        m_php->setStyleSheet(QString());
    }
}

void NewSiteSheet::updateState()
{
    const QString slug = HerdService::slug(m_name->text().trimmed());
    m_slug->setText(slug.isEmpty() ? tr("—") : slug);
    const HerdService& herd = m_services.herd();
    const bool engine = herd.engine().has_value();
    m_https->setVisible(engine);
    m_https->setText(
        tr("Secure with HTTPS (%1)").arg(herd.domain(slug.isEmpty() ? QStringLiteral("site") : slug)));
    m_serving->setText(engine ? QString()
                              : tr("Neither Herd nor Valet is installed: Halvik serves the site itself."));
    m_serving->setVisible(!engine);
    const bool connected = m_services.sourceControl().isConnected(SourceControlProvider::github);
    m_github->setEnabled(connected && m_git->isChecked());
    m_private->setEnabled(connected && m_github->isChecked() && m_git->isChecked());
    m_githubNote->setVisible(!connected);
    for (QWidget* field : {static_cast<QWidget*>(m_adminName), static_cast<QWidget*>(m_email),
                           static_cast<QWidget*>(m_password)})
        field->setEnabled(m_superUser->isChecked());

    std::optional<QString> problem;
    if (slug.isEmpty()) {
        problem = tr("Enter a name for the site.");
    } else {
        NewSiteDraft draft;
        draft.destination = destination();
        draft.createSuperUser = m_superUser->isChecked();
        draft.adminPassword = m_password->text();
        draft.createGitHubRepo = m_github->isChecked() && m_github->isEnabled();
        draft.phpSource = m_services.preferences().phpSource(herd.isParked(draft.destination), engine);
        problem = localNewSiteProblem(m_services, draft);
        if (!problem && m_superUser->isChecked() && m_email->text().trimmed().isEmpty())
            problem = tr("Enter an email address.");
    }
    m_problem->setText(problem.value_or(QString()));
    m_problem->setVisible(problem.has_value());
    m_problem->setStyleSheet(
        QStringLiteral("color: %1;").arg(semanticColor(Semantic::caution, palette()).name()));
    m_create->setEnabled(!problem && !m_creating);
}

QCoro::Task<> NewSiteSheet::create()
{
    QPointer<NewSiteSheet> alive = this;
    m_creating = true;
    updateState();
    const HerdService& herd = m_services.herd();
    NewSiteDraft draft;
    draft.destination = destination();
    draft.starterKit = m_kits->selectedPackage();
    const QString chosen = m_release->currentData().toString();
    draft.version = chosen;
    draft.createSuperUser = m_superUser->isChecked();
    draft.adminPassword = m_password->text();
    draft.createGitHubRepo = m_github->isChecked() && m_github->isEnabled();
    draft.phpSource =
        m_services.preferences().phpSource(herd.isParked(draft.destination), herd.engine().has_value());
    const std::optional<QString> problem = co_await newSiteProblem(m_services, draft);
    if (!alive)
        co_return;
    m_creating = false;
    if (problem) {
        updateState();
        m_problem->setText(*problem);
        m_problem->setVisible(true);
        m_create->setEnabled(false);
        co_return;
    }

    auto site = std::make_shared<Site>(m_name->text().trimmed(), draft.destination);
    site->setPhpSource(draft.phpSource);
    m_services.store().insertSite(site);
    m_services.setSelectedSiteID(site->id());

    InstallRequest request;
    request.siteID = site->id();
    request.destination = QUrl::fromLocalFile(draft.destination);
    request.slug = HerdService::slug(m_name->text().trimmed());
    request.version = chosen;
    request.starterKit = draft.starterKit;
    request.contentStorage = m_database->isChecked() ? ContentStorage::database : ContentStorage::flatFiles;
    request.installSSG = m_ssg->isChecked();
    request.createSuperUser = draft.createSuperUser;
    request.adminName = m_adminName->text().trimmed();
    request.adminEmail = m_email->text().trimmed();
    request.adminPassword = draft.adminPassword;
    request.secureHerd = herd.engine().has_value() && m_https->isChecked();
    request.phpSource = draft.phpSource;
    request.initGit = m_git->isChecked();
    request.createGitHubRepo = draft.createGitHubRepo;
    request.githubRepoIsPrivate = m_private->isChecked();
    if (request.createGitHubRepo)
        request.githubToken = m_services.sourceControl().token(SourceControlProvider::github);
    if (const auto php = m_services.runtime().resolvePHP(*site, &herd);
        php && php->source != ResolvedPHPSource::herdGlobal && php->source != ResolvedPHPSource::system &&
        herd.engine() == LocalDevEngine::herd && herd.globalPHPVersion() &&
        php->shortVersion() != herd.globalPHPVersion()->section(QLatin1Char('.'), 0, 1))
        request.isolatePHPVersion = php->shortVersion();

    m_services.installs().start(request);
    InstallJob* job = m_services.installs().job(site->id());
    m_overview = new InstallOverview(m_services, *job, m_pages);
    connect(m_overview, &InstallOverview::closeRequested, this, &QDialog::accept);
    m_pages->addWidget(m_overview);
    m_pages->setCurrentWidget(m_overview);
    // Out of the box: the box shows its buttons again whenever the style changes.
    if (auto* box = qobject_cast<QDialogButtonBox*>(m_create->parentWidget()))
        box->removeButton(m_create);
    m_create->hide();
    m_problem->hide();
    setWindowTitle(tr("Installing %1").arg(site->displayName()));
}

} // namespace halvik::views
