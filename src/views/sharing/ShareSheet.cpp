#include "views/sharing/ShareSheet.h"

#include "views/common/SemanticColors.h"

#include "app/AppServices.h"
#include "services/serving/SiteProcesses.h"
#include "services/sharing/SiteTunnelService.h"

#include "async/FireAndForget.h"
#include "platform/Browser.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>
#include <QToolButton>
#include <QVBoxLayout>

namespace halvik::views {

ShareSheet::ShareSheet(AppServices& services, SitePtr site, QWidget* parent)
    : QDialog(parent), m_services(services), m_tunnels(services.processes().tunnels()),
      m_site(std::move(site))
{
    setWindowTitle(QStringLiteral("Share %1").arg(m_site->displayName()));
    setObjectName(QStringLiteral("shareSheet:") + m_site->id().toString());
    setMinimumWidth(fontMetrics().averageCharWidth() * 100);
    auto* layout = new QVBoxLayout(this);

    auto* heading = new QLabel(QStringLiteral("Share “%1”").arg(m_site->displayName()), this);
    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    heading->setFont(bold);
    layout->addWidget(heading);

    m_progress = new QWidget(this);
    auto* progressLayout = new QHBoxLayout(m_progress);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    m_busy = new QProgressBar(m_progress);
    m_busy->setRange(0, 0);
    m_busy->setTextVisible(false);
    m_busy->setFixedWidth(fontMetrics().averageCharWidth() * 8);
    m_status = new QLabel(m_progress);
    progressLayout->addWidget(m_busy);
    progressLayout->addWidget(m_status, 1);
    layout->addWidget(m_progress);

    m_shared = new QWidget(this);
    auto* sharedLayout = new QVBoxLayout(m_shared);
    sharedLayout->setContentsMargins(0, 0, 0, 0);
    auto* addressRow = new QHBoxLayout;
    m_address = new QLineEdit(m_shared);
    m_address->setReadOnly(true);
    m_address->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_address->setAccessibleName(QStringLiteral("Public address"));
    m_address->setMinimumWidth(QFontMetrics(m_address->font()).averageCharWidth() * 60);
    m_copy = new QPushButton(QIcon::fromTheme(QStringLiteral("edit-copy")), QStringLiteral("Copy"), m_shared);
    m_open = new QPushButton(QIcon::fromTheme(QStringLiteral("applications-internet")),
                             QStringLiteral("Open in Browser"), m_shared);
    addressRow->addWidget(m_address, 1);
    addressRow->addWidget(m_copy);
    addressRow->addWidget(m_open);
    sharedLayout->addLayout(addressRow);
    m_note = new QLabel(QStringLiteral("Anyone with this link can open the site until you stop sharing."),
                        m_shared);
    m_note->setWordWrap(true);
    m_note->setForegroundRole(QPalette::PlaceholderText);
    sharedLayout->addWidget(m_note);
    layout->addWidget(m_shared);

    m_error = new QLabel(this);
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_error);

    m_detailsToggle = new QToolButton(this);
    m_detailsToggle->setText(QStringLiteral("Details"));
    m_detailsToggle->setCheckable(true);
    m_detailsToggle->setAutoRaise(true);
    m_detailsToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_detailsToggle->setArrowType(Qt::RightArrow);
    layout->addWidget(m_detailsToggle);
    m_details = new QPlainTextEdit(this);
    m_details->setReadOnly(true);
    m_details->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_details->setMinimumHeight(fontMetrics().height() * 8);
    m_details->hide();
    layout->addWidget(m_details, 1);
    connect(m_detailsToggle, &QToolButton::toggled, this, [this](bool shown) {
        m_detailsToggle->setArrowType(shown ? Qt::DownArrow : Qt::RightArrow);
        m_details->setVisible(shown);
        adjustSize();
    });

    // Plain buttons: a button box would show again the ones a state hides.
    auto* buttons = new QHBoxLayout;
    m_stop = new QPushButton(QStringLiteral("Stop Sharing"), this);
    m_retry = new QPushButton(QStringLiteral("Retry"), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setDefault(true);
    buttons->addWidget(m_stop);
    buttons->addStretch();
    buttons->addWidget(m_retry);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    connect(m_copy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(m_address->text()); });
    connect(m_open, &QPushButton::clicked, this, [this] { Browser::open(QUrl(m_address->text())); });
    connect(m_retry, &QPushButton::clicked, this, &ShareSheet::startSharing);
    connect(m_stop, &QPushButton::clicked, this, [this] {
        m_tunnels.stop(m_site->id());
        reject();
    });
    connect(&m_tunnels, &SiteTunnelService::sessionChanged, this, [this](const QUuid& changed) {
        if (changed == m_site->id())
            refresh();
    });
    refresh();
}

ShareSheet* ShareSheet::open(AppServices& services, const SitePtr& site, QWidget* parent)
{
    const QString name = QStringLiteral("shareSheet:") + site->id().toString();
    auto* sheet = parent ? parent->findChild<ShareSheet*>(name, Qt::FindDirectChildrenOnly) : nullptr;
    // Kept (hidden) once closed, so the site's sheet is the same wherever Share… is chosen.
    if (!sheet)
        sheet = new ShareSheet(services, site, parent);
    const SiteTunnelService::Session session = services.processes().tunnels().session(site->id());
    if (!session.isActive())
        sheet->startSharing();
    sheet->show();
    sheet->raise();
    sheet->activateWindow();
    return sheet;
}

void ShareSheet::startSharing()
{
    fireAndForget(this, m_tunnels.start(m_site));
    refresh();
}

void ShareSheet::refresh()
{
    const SiteTunnelService::Session session = m_tunnels.session(m_site->id());
    const bool shared = session.isActive() && session.url.has_value();
    const bool starting = session.isActive() && !shared;
    const bool failed = !session.isActive() && session.error.has_value();

    m_progress->setVisible(starting);
    m_status->setText(session.status.value_or(QString()));
    m_shared->setVisible(shared);
    m_address->setText(shared ? session.url->toString() : QString());
    m_error->setVisible(failed);
    m_error->setText(session.error.value_or(QString()));
    QPalette errorPalette = m_error->palette();
    errorPalette.setColor(QPalette::WindowText, semanticColor(Semantic::danger, palette()));
    m_error->setPalette(errorPalette);

    QString details = session.log;
    if (!session.serverErrors.isEmpty())
        details += QStringLiteral("\n\nThe server’s last error lines:\n") +
                   session.serverErrors.join(QLatin1Char('\n'));
    if (m_details->toPlainText() != details)
        m_details->setPlainText(details);
    m_details->moveCursor(QTextCursor::End);
    m_detailsToggle->setVisible(starting || failed);
    if (shared && m_detailsToggle->isChecked())
        m_detailsToggle->setChecked(false);
    m_retry->setVisible(failed);
    m_stop->setVisible(session.isActive());
}

} // namespace halvik::views
