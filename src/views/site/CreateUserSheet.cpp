#include "views/site/CreateUserSheet.h"

#include "views/common/SemanticColors.h"

#include "async/FireAndForget.h"
#include "services/composer/ComposerService.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvik::views {

CreateUserSheet::CreateUserSheet(ComposerService& composer, SitePtr site, QWidget* parent)
    : QDialog(parent), m_composer(composer), m_site(std::move(site))
{
    setWindowTitle(QStringLiteral("Create User"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("Adds a control panel account to %1.").arg(m_site->displayName()), this);
    intro->setForegroundRole(QPalette::PlaceholderText);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* form = new QFormLayout;
    m_email = new QLineEdit(this);
    m_email->setPlaceholderText(QStringLiteral("you@example.com"));
    form->addRow(QStringLiteral("Email"), m_email);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(tr("At least 8 characters"));
    form->addRow(QStringLiteral("Password"), m_password);
    m_super = new QCheckBox(QStringLiteral("Super user"), this);
    m_super->setChecked(true);
    m_super->setToolTip(tr("A super user can do everything in the control panel"));
    form->addRow(QString(), m_super);
    layout->addLayout(form);

    m_error = new QLabel(this);
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_error->hide();
    layout->addWidget(m_error);
    layout->addStretch();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_create = buttons->addButton(tr("Create User"), QDialogButtonBox::AcceptRole);
    m_create->setDefault(true);
    m_create->setEnabled(false);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_create, &QPushButton::clicked, this, [this] { fireAndForget(this, create()); });
    const auto sync = [this] {
        m_create->setEnabled(!m_email->text().trimmed().isEmpty() && !m_password->text().isEmpty());
    };
    connect(m_email, &QLineEdit::textChanged, this, sync);
    connect(m_password, &QLineEdit::textChanged, this, sync);
    setMinimumWidth(440);
    layout->setSpacing(10);
}

CreateUserSheet::~CreateUserSheet()
{
    m_life.end();
}

QString CreateUserSheet::errorText() const
{
    return m_error->isVisible() ? m_error->text() : QString();
}

void CreateUserSheet::showError(const QString& text)
{
    QPalette palette = m_error->palette();
    palette.setColor(QPalette::WindowText, semanticColor(Semantic::danger, palette));
    m_error->setPalette(palette);
    m_error->setText(text);
    m_error->setVisible(!text.isEmpty());
}

QCoro::Task<> CreateUserSheet::create()
{
    const LifeToken alive = m_life.token();
    showError(QString());
    m_create->setEnabled(false);
    const QString email = m_email->text().trimmed();
    try {
        co_await m_composer.createUser(m_site, email, m_password->text(), m_super->isChecked());
        if (!alive)
            co_return;
        m_done = tr("Created %1").arg(email);
        m_password->clear();
        accept();
        co_return;
    } catch (const HalvikError& error) {
        if (!alive)
            co_return;
        showError(error.description().trimmed().section(QLatin1Char('\n'), -3));
    }
    m_create->setEnabled(true);
}

} // namespace halvik::views
