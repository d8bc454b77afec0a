#include "views/deploy/CloudEnvironmentSheet.h"

#include "views/accounts/AccountWidgets.h"

#include "app/AppServices.h"
#include "async/FireAndForget.h"
#include "services/hosting/HostAccountService.h"
#include "services/hosting/LaravelCloudClient.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace halvik::views {

CloudEnvironmentSheet::CloudEnvironmentSheet(AppServices& services, SitePtr site, QWidget* parent)
    : QDialog(parent), m_services(services), m_site(std::move(site))
{
    setWindowTitle(QStringLiteral("Cloud Environment"));
    setObjectName("cloudEnvironmentSheet");
    setMinimumSize(560, 420);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 18, 22, 16);
    layout->addWidget(
        headingLabel(QStringLiteral("Cloud environment of %1").arg(m_site->displayName()), 2, this));
    layout->addWidget(
        new ToneLabel(QStringLiteral("Variables take effect with the next deployment."), Tone::muted, this));
    m_table = new QTreeWidget(this);
    m_table->setObjectName("cloudVariables");
    m_table->setRootIsDecorated(false);
    m_table->setHeaderLabels({QStringLiteral("Key"), QStringLiteral("Value")});
    m_table->header()->setStretchLastSection(true);
    layout->addWidget(m_table, 1);
    auto* edit = new QHBoxLayout;
    m_key = new QLineEdit(this);
    m_key->setPlaceholderText(QStringLiteral("KEY"));
    m_value = new QLineEdit(this);
    m_value->setPlaceholderText(QStringLiteral("Value"));
    m_set = new QPushButton(QStringLiteral("Set"), this);
    m_delete =
        new QPushButton(QIcon::fromTheme(QStringLiteral("list-remove")), QStringLiteral("Delete"), this);
    edit->addWidget(m_key, 1);
    edit->addWidget(m_value, 2);
    edit->addWidget(m_set);
    edit->addWidget(m_delete);
    layout->addLayout(edit);
    m_status = new ToneLabel(QString(), Tone::muted, this);
    m_status->setWordWrap(true);
    layout->addWidget(m_status);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* done = new QPushButton(QStringLiteral("Done"), this);
    done->setDefault(true);
    buttons->addWidget(done);
    layout->addLayout(buttons);

    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_set, &QPushButton::clicked, this, &CloudEnvironmentSheet::setVariable);
    connect(m_delete, &QPushButton::clicked, this, &CloudEnvironmentSheet::deleteSelected);
    connect(m_key, &QLineEdit::textChanged, this, &CloudEnvironmentSheet::sync);
    connect(m_table, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item) {
            m_key->setText(item->text(0));
            m_value->setText(item->text(1));
        }
        sync();
    });
    sync();
}

void CloudEnvironmentSheet::sync()
{
    m_set->setEnabled(!m_busy && !m_key->text().trimmed().isEmpty());
    m_delete->setEnabled(!m_busy && m_table->currentItem());
    m_table->setEnabled(!m_busy);
}

void CloudEnvironmentSheet::reload()
{
    apply({}, {}, {});
}

void CloudEnvironmentSheet::setVariable()
{
    const QString key = m_key->text().trimmed();
    if (!key.isEmpty())
        apply(key, m_value->text(), {});
}

void CloudEnvironmentSheet::deleteSelected()
{
    if (QTreeWidgetItem* item = m_table->currentItem())
        apply({}, {}, {item->text(0)});
}

void CloudEnvironmentSheet::apply(QString setKey, QString setValue, QStringList deleteKeys)
{
    HostAccountService& hosts = m_services.hostAccounts();
    const HostAccountPtr host = m_site->cloudHostId() ? hosts.account(*m_site->cloudHostId()) : nullptr;
    const auto token = host ? hosts.token(*host) : std::nullopt;
    const QString envID = m_site->cloudEnvId().value_or(QString());
    if (!token || envID.isEmpty()) {
        m_status->setTone(Tone::failure);
        m_status->setText(QStringLiteral("Connect a Laravel Cloud account first."));
        return;
    }
    m_busy = true;
    m_status->setTone(Tone::muted);
    m_status->setText(setKey.isEmpty() && deleteKeys.isEmpty() ? QStringLiteral("Loading the environment…")
                                                               : QStringLiteral("Saving…"));
    sync();
    const QPointer<CloudEnvironmentSheet> self(this);
    fireAndForget(this,
                  [](QPointer<CloudEnvironmentSheet> sheet, LaravelCloudClient& cloud, QString secret,
                     QString id, QString key, QString value, QStringList removed) -> QCoro::Task<> {
                      QString failure;
                      CloudEnvironment environment;
                      try {
                          if (!key.isEmpty()) {
                              const QList<CloudEnvironmentVariable> variables{{key, value}};
                              co_await cloud.addEnvironmentVariables(id, variables, secret);
                          }
                          if (!removed.isEmpty())
                              co_await cloud.deleteEnvironmentVariables(id, removed, secret);
                          environment = co_await cloud.environment(id, secret);
                      } catch (const HalvikError& error) {
                          failure = error.description();
                      }
                      if (!sheet)
                          co_return;
                      sheet->m_busy = false;
                      if (!failure.isEmpty()) {
                          sheet->m_status->setTone(Tone::failure);
                          sheet->m_status->setText(failure);
                          sheet->sync();
                          co_return;
                      }
                      sheet->m_table->clear();
                      for (const CloudEnvironmentVariable& variable : environment.environmentVariables)
                          new QTreeWidgetItem(sheet->m_table, {variable.key, variable.value});
                      sheet->m_table->resizeColumnToContents(0);
                      sheet->m_status->clear();
                      if (!key.isEmpty()) {
                          sheet->m_key->clear();
                          sheet->m_value->clear();
                      }
                      sheet->sync();
                  }(self, m_services.cloud(), *token, envID, setKey, setValue, deleteKeys));
}

} // namespace halvik::views
