#include "views/accounts/SourceControlPage.h"

#include "views/accounts/AccountWidgets.h"
#include "views/accounts/ConnectSheet.h"

#include "models/SiteStore.h"
#include "platform/PlatformTexts.h"
#include "services/accounts/SourceControlService.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvik::views {

SourceControlPage::SourceControlPage(SourceControlService& service, QWidget* parent)
    : QWidget(parent), m_service(service)
{
    setObjectName("sourceControlPage");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(6);
    layout->addWidget(headingLabel(QStringLiteral("Source Control"), 3, this));
    layout->addWidget(
        new ToneLabel(QStringLiteral("Connect an account to create a repository for a site and push "
                                     "to it. Tokens stay on %1; Halvik lends them to Git for each "
                                     "push and never writes them into your sites.")
                          .arg(PlatformTexts::thisComputer()),
                      Tone::muted, this));
    layout->addSpacing(12);

    auto* list = new QFrame(this);
    list->setFrameShape(QFrame::StyledPanel);
    list->setBackgroundRole(QPalette::Base);
    list->setAutoFillBackground(true);
    auto* rows = new QVBoxLayout(list);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    bool first = true;
    for (const SourceControlProvider provider : allCases<SourceControlProvider>()) {
        if (!first) {
            auto* line = new QFrame(list);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Plain);
            line->setForegroundRole(QPalette::Midlight);
            rows->addWidget(line);
        }
        first = false;
        auto* rowWidget = new QWidget(list);
        auto* row = new QHBoxLayout(rowWidget);
        row->setContentsMargins(14, 10, 14, 10);
        row->setSpacing(12);
        row->addWidget(new ProviderBadge(provider, 34, rowWidget));
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        auto* name = new QLabel(title(provider), rowWidget);
        QFont bold = name->font();
        bold.setBold(true);
        name->setFont(bold);
        texts->addWidget(name);
        Row entry;
        auto* status = new ToneLabel(QString(), Tone::muted, rowWidget);
        status->setObjectName(QStringLiteral("status-") + toRaw(provider));
        entry.status = status;
        texts->addWidget(status);
        row->addLayout(texts, 1);
        entry.connect = new QPushButton(rowWidget);
        entry.connect->setObjectName(QStringLiteral("connect-") + toRaw(provider));
        entry.disconnect = new QPushButton(QStringLiteral("Disconnect"), rowWidget);
        entry.disconnect->setObjectName(QStringLiteral("disconnect-") + toRaw(provider));
        row->addWidget(entry.connect);
        row->addWidget(entry.disconnect);
        rows->addWidget(rowWidget);
        connect(entry.connect, &QPushButton::clicked, this, [this, provider] { openConnect(provider); });
        connect(entry.disconnect, &QPushButton::clicked, this,
                [this, provider] { m_service.disconnect(provider); });
        m_rows.insert(provider, entry);
    }
    layout->addWidget(list);
    layout->addStretch();

    connect(&m_service, &SourceControlService::accountsChanged, this, &SourceControlPage::sync);
    connect(&m_service.store(), &SiteStore::sourceControlAccountsChanged, this, &SourceControlPage::sync);
    sync();
}

QLabel* SourceControlPage::statusLabel(SourceControlProvider provider) const
{
    return m_rows.value(provider).status;
}

void SourceControlPage::sync()
{
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        const auto account = m_service.store().sourceControlAccount(it.key());
        auto* status = static_cast<ToneLabel*>(it->status);
        if (account) {
            status->setText(QStringLiteral("Connected as @") + account->login);
            status->setTone(Tone::success);
        } else {
            status->setText(QStringLiteral("Not connected"));
            status->setTone(Tone::muted);
        }
        it->connect->setText(account ? QStringLiteral("Reconnect") : QStringLiteral("Connect"));
        it->connect->setDefault(false);
        it->disconnect->setVisible(account.has_value());
    }
}

void SourceControlPage::openConnect(SourceControlProvider provider)
{
    if (m_sheet) {
        m_sheet->raise();
        return;
    }
    m_sheet = new ConnectSheet(m_service, provider, this);
    m_sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_sheet, &QObject::destroyed, this, [this] { m_sheet = nullptr; });
    m_sheet->open();
}

} // namespace halvik::views
