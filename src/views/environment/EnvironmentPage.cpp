#include "views/environment/EnvironmentPage.h"

#include "views/common/SemanticColors.h"

#include "app/AppServices.h"
#include "app/DevEnvironment.h"
#include "services/HerdService.h"
#include "services/runtime/RuntimeManager.h"

#include "async/FireAndForget.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QLabel* value(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

QLabel* heading(const QString& text, int grow, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSize(font.pointSize() + grow);
    label->setFont(font);
    return label;
}

QString orNone(const std::optional<QString>& text, const QString& none = QStringLiteral("Not found"))
{
    return text.value_or(none);
}

QColor stateColour(const Reachability& answer, const QPalette& palette)
{
    if (answer.isServing())
        return semanticColor(Semantic::success, palette);
    if (!answer.isFailing())
        return palette.color(QPalette::PlaceholderText);
    return semanticColor(Semantic::danger, palette);
}

} // namespace

EnvironmentPage::EnvironmentPage(AppServices& services, QWidget* parent)
    : QWidget(parent), m_services(services)
{
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(heading(QStringLiteral("Environment"), 6, this));
    top->addStretch();
    m_refresh =
        new QPushButton(QIcon::fromTheme(QStringLiteral("view-refresh")), QStringLiteral("Refresh"), this);
    m_refresh->setToolTip(QStringLiteral("Look at the tools and sites again (F5)"));
    auto* copy = new QPushButton(QIcon::fromTheme(QStringLiteral("edit-copy")),
                                 QStringLiteral("Copy Diagnostics"), this);
    top->addWidget(m_refresh);
    top->addWidget(copy);
    layout->addLayout(top);

    m_howSitesOpen = value(this);
    m_howSitesOpen->setObjectName("howSitesOpen");
    m_checked = value(this);
    m_checked->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(heading(QStringLiteral("How sites open"), 0, this));
    layout->addWidget(m_howSitesOpen);
    layout->addWidget(m_checked);

    m_form = new QFormLayout;
    m_form->setLabelAlignment(Qt::AlignRight);
    m_server = value(this);
    m_server->setObjectName("localWebServer");
    m_engine = value(this);
    m_php = value(this);
    m_composer = value(this);
    m_node = value(this);
    m_gh = value(this);
    m_tld = value(this);
    m_parked = value(this);
    m_port80 = value(this);
    m_port80->setObjectName("port80");
    m_conflicts = value(this);
    m_conflicts->setObjectName("conflicts");
    m_form->addRow(QStringLiteral("Local web server"), m_server);
    m_form->addRow(QStringLiteral("Herd / Valet"), m_engine);
    m_form->addRow(QStringLiteral("Global PHP"), m_php);
    m_form->addRow(QStringLiteral("Composer"), m_composer);
    m_form->addRow(QStringLiteral("Node"), m_node);
    m_form->addRow(QStringLiteral("GitHub CLI"), m_gh);
    m_form->addRow(QStringLiteral("Domain suffix"), m_tld);
    m_form->addRow(QStringLiteral("Parked folders"), m_parked);
    m_form->addRow(QStringLiteral("Port 80"), m_port80);
    m_form->addRow(QStringLiteral("Possible conflicts"), m_conflicts);
    layout->addLayout(m_form);

    layout->addWidget(heading(QStringLiteral("Sites"), 0, this));
    m_sites = new QTreeWidget(this);
    m_sites->setObjectName("environmentSites");
    m_sites->setRootIsDecorated(false);
    m_sites->setUniformRowHeights(true);
    m_sites->setHeaderLabels({QStringLiteral("Site"), QStringLiteral("URL"), QStringLiteral("Served by"),
                              QStringLiteral("Answer")});
    m_sites->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_sites->header()->setStretchLastSection(true);
    layout->addWidget(m_sites, 2);

    layout->addWidget(heading(QStringLiteral("Recent nginx errors"), 0, this));
    m_nginx = new QPlainTextEdit(this);
    m_nginx->setReadOnly(true);
    m_nginx->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_nginx->setMaximumHeight(m_nginx->fontMetrics().lineSpacing() * 7);
    layout->addWidget(m_nginx, 1);

    DevEnvironment& environment = services.devEnvironment();
    connect(&environment, &DevEnvironment::changed, this, &EnvironmentPage::refreshView);
    connect(m_refresh, &QPushButton::clicked, this,
            [this] { fireAndForget(this, m_services.devEnvironment().refresh()); });
    connect(copy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(m_services.devEnvironment().diagnosticsReport()); });
    // The states' colours are computed: a change of appearance draws the page again.
    followPalette(m_sites, [this] { refreshView(); });
}

bool EnvironmentPage::handlePageCommand(Command command)
{
    if (command != Command::refresh)
        return false;
    if (!m_services.devEnvironment().isRefreshing())
        fireAndForget(this, m_services.devEnvironment().refresh());
    return true;
}

void EnvironmentPage::refreshView()
{
    const DevEnvironment& environment = m_services.devEnvironment();
    const HerdService& herd = m_services.herd();
    m_refresh->setEnabled(!environment.isRefreshing());
    m_howSitesOpen->setText(environment.howSitesOpen());
    m_checked->setText(environment.isRefreshing() ? QStringLiteral("Checking…")
                       : environment.lastRefreshed()
                           ? QStringLiteral("Checked at ") +
                                 environment.lastRefreshed()->toString(QStringLiteral("HH:mm:ss"))
                           : QStringLiteral("Not checked yet"));

    const bool engine = herd.engine().has_value();
    m_server->setText(engine
                          ? QStringLiteral("%1 (nginx)").arg(engineDisplayName(*herd.engine()))
                          : QStringLiteral("php artisan serve on 127.0.0.1, one port per site (from 4000)\n"
                                           "Starts when you click Open Site. Stops when Halvik quits."));
    m_engine->setText(
        engine ? QStringLiteral("%1 — %2").arg(engineDisplayName(*herd.engine()), orNone(herd.cliPath()))
               : QStringLiteral("Not installed"));
    m_php->setText(herd.globalPHPPath() ? orNone(herd.globalPHPVersion(), QStringLiteral("Unknown version")) +
                                              QStringLiteral(" at ") + *herd.globalPHPPath()
                                        : orNone(m_services.runtime().which(QStringLiteral("php"))));
    const RuntimeSnapshot& runtime = m_services.runtime().snapshot();
    const std::optional<QString> composer =
        runtime.composerPath ? runtime.composerPath : m_services.runtime().which(QStringLiteral("composer"));
    m_composer->setText(orNone(composer) +
                        (runtime.composerVersion
                             ? QStringLiteral(" (") + *runtime.composerVersion + QLatin1Char(')')
                             : QString()));
    m_node->setText(environment.node()
                        ? orNone(environment.nodeVersion(), QStringLiteral("Unknown version")) +
                              QStringLiteral(" at ") + environment.node()->node
                        : QStringLiteral("Not found"));
    m_gh->setText(orNone(environment.githubCLIPath()));
    m_tld->setText(engine ? QStringLiteral(".") + herd.tld() : QStringLiteral("None (no Herd or Valet)"));
    m_parked->setText(herd.parkedDirectories().isEmpty() ? QStringLiteral("None")
                                                         : herd.parkedDirectories().join(QLatin1Char('\n')));
    m_port80->setText(environment.port80() ? QStringLiteral("Port 80 in use") + QStringLiteral(" (") +
                                                 environment.port80()->description() + QLatin1Char(')')
                                           : QStringLiteral("Free"));

    // Something else on port 80 keeps the engine's nginx from serving sites.
    const auto listener = environment.port80();
    const bool foreign = listener && !listener->command.value_or(QString()).contains(QLatin1String("nginx"));
    QString conflicts = QStringLiteral("None found");
    if (engine && foreign)
        conflicts = QStringLiteral("⚠ %1 holds port 80, so %2’s nginx can’t serve your sites.")
                        .arg(listener->description(), engineDisplayName(*herd.engine()));
    else if (!engine && listener)
        conflicts =
            QStringLiteral("Something is already serving on port 80. Fine for Halvik’s server, but it "
                           "will block Herd if you install it later.");
    m_conflicts->setText(conflicts);

    m_nginx->setPlainText(environment.nginxErrors().isEmpty()
                              ? QStringLiteral("No recent errors.")
                              : environment.nginxErrors().join(QLatin1Char('\n')));

    m_sites->clear();
    for (const SiteMapping& mapping : environment.siteMappings()) {
        auto* item = new QTreeWidgetItem(m_sites);
        item->setText(0, mapping.name);
        item->setText(1, mapping.url ? mapping.url->toString() : QStringLiteral("No URL yet"));
        item->setText(2, mapping.mode.servedBy());
        item->setText(3, mapping.reachability.summary());
        item->setForeground(3, stateColour(mapping.reachability, palette()));
        item->setToolTip(0, mapping.path);
        if (const QString notice = environment.serveFallbackNotices().value(mapping.id); !notice.isEmpty())
            item->setToolTip(3, notice);
    }
}

} // namespace halvik::views
