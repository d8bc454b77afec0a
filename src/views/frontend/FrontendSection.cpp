#include "views/frontend/FrontendSection.h"

#include "views/common/LiveLogView.h"
#include "views/common/SemanticColors.h"

#include "app/AppServices.h"
#include "services/frontend/FrontendProject.h"
#include "services/frontend/ViteDevServer.h"
#include "services/frontend/ViteDevServerError.h"
#include "services/runtime/NodeRuntime.h"
#include "services/runtime/RuntimeManager.h"
#include "services/serving/SiteProcesses.h"

#include "async/FireAndForget.h"
#include "platform/Browser.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

namespace halvik::views {

namespace {

QLabel* value(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

QPushButton* button(const QString& text, QWidget* parent)
{
    auto* pushButton = new QPushButton(text, parent);
    pushButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return pushButton;
}

// Runs a dev-server action; its sentence is already in the session, so nothing more to show.
QCoro::Task<> quietly(QCoro::Task<> task)
{
    try {
        co_await std::move(task);
    } catch (const ViteDevServerError&) {
    }
}

} // namespace

FrontendSection::FrontendSection(AppServices& services, QWidget* parent)
    : QWidget(parent), m_services(services), m_dev(services.processes().devServer())
{
    m_form = new QFormLayout(this);
    m_form->setContentsMargins(0, 0, 0, 0);
    m_form->setLabelAlignment(Qt::AlignRight);

    m_reason = value(this);
    m_reason->setForegroundRole(QPalette::PlaceholderText);
    m_bundler = value(this);
    m_script = value(this);
    m_script->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    m_stateRow = new QWidget(this);
    auto* stateLayout = new QHBoxLayout(m_stateRow);
    stateLayout->setContentsMargins(0, 0, 0, 0);
    m_busy = new QProgressBar(m_stateRow);
    m_busy->setRange(0, 0);
    m_busy->setTextVisible(false);
    m_busy->setFixedWidth(m_busy->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 5);
    m_busy->setMaximumHeight(m_busy->fontMetrics().height() * 2 / 3);
    m_state = value(m_stateRow);
    stateLayout->addWidget(m_busy);
    stateLayout->addWidget(m_state, 1);

    m_url = new QLabel(this);
    m_url->setTextFormat(Qt::RichText);
    m_url->setTextInteractionFlags(Qt::TextBrowserInteraction);
    connect(m_url, &QLabel::linkActivated, this, [](const QString& link) { Browser::open(QUrl(link)); });

    auto* actions = new QWidget(this);
    auto* actionLayout = new QHBoxLayout(actions);
    actionLayout->setContentsMargins(0, 0, 0, 0);
    m_startStop = button(QStringLiteral("Start"), actions);
    m_open = button(QStringLiteral("Open Dev Server"), actions);
    m_install = button(QStringLiteral("Install npm Dependencies"), actions);
    m_installNode = button(QStringLiteral("Install Node in Settings"), actions);
    for (QPushButton* action : {m_startStop, m_open, m_install, m_installNode})
        actionLayout->addWidget(action);
    actionLayout->addStretch();

    m_logToggle = new QToolButton(this);
    m_logToggle->setText(QStringLiteral("Log"));
    m_logToggle->setCheckable(true);
    m_logToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_logToggle->setArrowType(Qt::RightArrow);
    m_logToggle->setAutoRaise(true);
    m_log = new LiveLogView(this);
    m_log->setMinimumHeight(m_log->fontMetrics().height() * 12);

    m_form->addRow(new QLabel(this), m_reason);
    m_form->addRow(QStringLiteral("Bundler"), m_bundler);
    m_form->addRow(QStringLiteral("Dev script"), m_script);
    m_form->addRow(QStringLiteral("State"), m_stateRow);
    m_form->addRow(QStringLiteral("URL"), m_url);
    m_form->addRow(new QLabel(this), actions);
    m_form->addRow(new QLabel(this), m_logToggle);
    m_form->addRow(m_log);
    m_form->setRowVisible(m_log, false);

    connect(m_startStop, &QPushButton::clicked, this, &FrontendSection::startOrStop);
    connect(m_open, &QPushButton::clicked, this, [this] {
        if (const auto url = m_site ? m_dev.session(m_site->id()).url : std::nullopt)
            Browser::open(*url);
    });
    connect(m_install, &QPushButton::clicked, this, [this] {
        if (m_site)
            fireAndForget(this, quietly(m_dev.installDependenciesOnly(m_site)));
    });
    connect(m_installNode, &QPushButton::clicked, this,
            [this] { m_services.setSelectedSection(SidebarSection::settings); });
    connect(m_logToggle, &QToolButton::toggled, this, &FrontendSection::showLog);
    connect(&m_dev, &ViteDevServer::sessionChanged, this, [this](const QUuid& site) {
        if (m_site && site == m_site->id())
            refresh();
    });
    connect(&m_dev, &ViteDevServer::logAppended, this, [this](const QUuid& site, const QString& lines) {
        if (m_site && site == m_site->id())
            m_log->appendBatch(lines);
    });
}

void FrontendSection::setSite(SitePtr site)
{
    const bool changed = site != m_site;
    m_site = std::move(site);
    if (changed)
        m_log->setLog(m_site ? m_dev.session(m_site->id()).log : QString());
    refresh();
}

void FrontendSection::showLog(bool shown)
{
    m_logToggle->setArrowType(shown ? Qt::DownArrow : Qt::RightArrow);
    m_form->setRowVisible(m_log, shown);
}

void FrontendSection::startOrStop()
{
    if (!m_site)
        return;
    if (m_dev.isActive(m_site->id())) {
        m_dev.stop(m_site->id());
        return;
    }
    m_log->clear();
    fireAndForget(this, quietly(m_dev.start(m_site)));
}

void FrontendSection::refresh()
{
    if (!m_site)
        return;
    const auto info = FrontendProject::inspect(m_site->path());
    const ViteDevSession session = m_dev.session(m_site->id());
    const bool hasNode = NodeRuntime(m_services.runtime().roots()).resolve().has_value();

    std::optional<QString> reason;
    if (!info)
        reason = QStringLiteral("No package.json in this site.");
    else if (!info->devScriptName)
        reason = ViteDevServerError::noDevScript().description();
    m_form->setRowVisible(m_reason, reason.has_value());
    m_reason->setText(reason.value_or(QString()));
    m_bundler->setText(info ? title(info->bundler) : QStringLiteral("None"));
    m_script->setText(info && info->devScriptName ? QStringLiteral("npm run ") + *info->devScriptName
                                                  : QStringLiteral("—"));

    QString state = title(session.phase);
    if (session.phase == ViteDevServerPhase::failed && !session.failure.isEmpty())
        state += QStringLiteral(": ") + session.failure;
    if (session.elsewhere)
        state += QStringLiteral(" (in another Halvik window or terminal)");
    m_state->setText(state);
    QPalette statePalette = m_state->palette();
    statePalette.setColor(QPalette::WindowText, session.phase == ViteDevServerPhase::failed
                                                    ? semanticColor(Semantic::danger, palette())
                                                : session.phase == ViteDevServerPhase::running
                                                    ? semanticColor(Semantic::success, palette())
                                                    : palette().color(QPalette::WindowText));
    m_state->setPalette(statePalette);
    m_busy->setVisible(session.phase == ViteDevServerPhase::installingDependencies ||
                       session.phase == ViteDevServerPhase::starting);

    const bool running = session.phase == ViteDevServerPhase::running && session.url;
    m_url->setText(running
                       ? QStringLiteral("<a href=\"%1\">%1</a>").arg(session.url->toString().toHtmlEscaped())
                       : QStringLiteral("—"));
    m_startStop->setText(session.isActive() ? QStringLiteral("Stop") : QStringLiteral("Start"));
    m_startStop->setEnabled(session.isActive() || (!reason && hasNode));
    m_open->setVisible(running);
    m_install->setVisible(info && !info->nodeModulesPresent && hasNode && !session.isActive());
    m_installNode->setVisible(!hasNode && !reason);
    // Without a dev server to run, the section keeps what it knows and says why it is idle.
    for (QWidget* row : {m_stateRow, static_cast<QWidget*>(m_url), static_cast<QWidget*>(m_logToggle)})
        m_form->setRowVisible(row, !reason);
    m_form->setRowVisible(m_log, m_logToggle->isChecked() && !reason);
}

} // namespace halvik::views
