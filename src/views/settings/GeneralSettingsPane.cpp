#include "views/settings/GeneralSettingsPane.h"

#include "app/AppServices.h"

#include "async/FireAndForget.h"
#include "services/updates/UpdateChecker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace halvik::views {

namespace {

QWidget* withButton(QLabel* value, QPushButton* button, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(value, 1);
    layout->addWidget(button);
    return row;
}

} // namespace

GeneralSettingsPane::GeneralSettingsPane(AppServices& services, QWidget* parent)
    : QWidget(parent), m_services(services)
{
    AppPreferences& preferences = services.preferences();
    auto* form = new QFormLayout(this);
    form->setLabelAlignment(Qt::AlignRight);
    auto* heading = new QLabel(QStringLiteral("General"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    form->addRow(heading);

    m_editor = new QLabel(this);
    m_editor->setObjectName("editorName");
    auto* chooseEditor = new QPushButton(QStringLiteral("Choose…"), this);
    chooseEditor->setObjectName("chooseEditor");
    form->addRow(QStringLiteral("Editor"), withButton(m_editor, chooseEditor, this));
    connect(chooseEditor, &QPushButton::clicked, this, [this] {
        fireAndForget(this, [](AppServices& app) -> QCoro::Task<> {
            co_await app.preferences().chooseEditor();
        }(m_services));
    });

    m_appearance = new QComboBox(this);
    for (AppearancePreference appearance : allCases<AppearancePreference>())
        m_appearance->addItem(appearance == AppearancePreference::system  ? QStringLiteral("System")
                              : appearance == AppearancePreference::light ? QStringLiteral("Light")
                                                                          : QStringLiteral("Dark"),
                              toRaw(appearance));
    form->addRow(QStringLiteral("Appearance"), m_appearance);
    connect(m_appearance, &QComboBox::activated, this, [this] {
        m_services.preferences().setAppearanceRaw(m_appearance->currentData().toString());
        m_services.preferences().applyAppearance();
    });

    m_defaultPHP = new QComboBox(this);
    for (PHPSource source : allCases<PHPSource>())
        m_defaultPHP->addItem(source == PHPSource::automatic ? QStringLiteral("Automatic")
                              : source == PHPSource::managed ? QStringLiteral("Halvik PHP")
                                                             : QStringLiteral("Herd / Valet"),
                              toRaw(source));
    form->addRow(QStringLiteral("Default PHP"), m_defaultPHP);
    connect(m_defaultPHP, &QComboBox::activated, this, [this] {
        m_services.preferences().setDefaultPHPSourceRaw(m_defaultPHP->currentData().toString());
    });

    m_secure = new QCheckBox(QStringLiteral("Secure new sites with HTTPS"), this);
    form->addRow(QString(), m_secure);
    connect(m_secure, &QCheckBox::toggled, this,
            [this](bool on) { m_services.preferences().setSecureNewSites(on); });
    m_preferHerd = new QCheckBox(QStringLiteral("Prefer Herd / Valet for new sites"), this);
    form->addRow(QString(), m_preferHerd);
    connect(m_preferHerd, &QCheckBox::toggled, this,
            [this](bool on) { m_services.preferences().setPreferHerd(on); });

    m_sitesFolder = new QLabel(this);
    m_sitesFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* chooseFolder = new QPushButton(QStringLiteral("Choose…"), this);
    form->addRow(QStringLiteral("Sites folder"), withButton(m_sitesFolder, chooseFolder, this));
    connect(chooseFolder, &QPushButton::clicked, this, [this] { fireAndForget(this, chooseSitesFolder()); });

    m_weeklyUpdateCheck = new QCheckBox(QStringLiteral("Check for updates once a week"), this);
    m_weeklyUpdateCheck->setToolTip(QStringLiteral("At start-up, ask %1 whether a newer Halvik is out")
                                        .arg(UpdateChecker::feedUrl().host()));
    form->addRow(QStringLiteral("Updates"), m_weeklyUpdateCheck);
    connect(m_weeklyUpdateCheck, &QCheckBox::toggled, this,
            [this](bool on) { m_services.preferences().setCheckForUpdatesWeekly(on); });

    connect(&preferences, &AppPreferences::changed, this, &GeneralSettingsPane::refresh);
    refresh();
}

QCoro::Task<> GeneralSettingsPane::chooseSitesFolder()
{
    const LifeToken alive = m_life.token();
    const QString start = m_services.preferences().resolvedSitesDirectory();
    const std::optional<QString> folder =
        co_await m_services.prompts().chooseFolder(QStringLiteral("Choose the folder for new sites"), start);
    if (!alive || !folder)
        co_return;
    m_services.preferences().setDefaultSitesDirectoryPath(*folder);
}

void GeneralSettingsPane::refresh()
{
    const AppPreferences& preferences = m_services.preferences();
    const QSignalBlocker a(m_appearance), b(m_defaultPHP), c(m_secure), d(m_preferHerd),
        e(m_weeklyUpdateCheck);
    m_editor->setText(preferences.defaultEditorName());
    m_appearance->setCurrentIndex(qMax(0, m_appearance->findData(toRaw(preferences.appearance()))));
    m_defaultPHP->setCurrentIndex(qMax(0, m_defaultPHP->findData(preferences.defaultPHPSourceRaw())));
    m_secure->setChecked(preferences.secureNewSites());
    m_preferHerd->setChecked(preferences.preferHerd());
    m_sitesFolder->setText(preferences.resolvedSitesDirectory());
    m_weeklyUpdateCheck->setChecked(preferences.checkForUpdatesWeekly());
}

} // namespace halvik::views
