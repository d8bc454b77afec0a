#include "views/site/LocalEnvironmentSheet.h"

#include "views/common/SemanticColors.h"

#include "async/FireAndForget.h"
#include "services/DotEnvFile.h"
#include "services/composer/ComposerService.h"
#include "services/git/GitService.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

const QStringList summaryKeys{QStringLiteral("APP_URL"),     QStringLiteral("DB_CONNECTION"),
                              QStringLiteral("DB_HOST"),     QStringLiteral("DB_PORT"),
                              QStringLiteral("DB_DATABASE"), QStringLiteral("DB_USERNAME")};

} // namespace

LocalEnvironmentSheet::LocalEnvironmentSheet(ComposerService& composer, GitService& git, SitePtr site,
                                             QWidget* parent)
    : QDialog(parent), m_composer(composer), m_git(git), m_site(std::move(site))
{
    setWindowTitle(QStringLiteral("Local Environment"));
    resize(720, 600);
    auto* layout = new QVBoxLayout(this);

    m_warning = new QWidget(this);
    auto* warningLayout = new QHBoxLayout(m_warning);
    warningLayout->setContentsMargins(8, 6, 8, 6);
    auto* icon = new QLabel(m_warning);
    const QIcon symbol = QIcon::fromTheme(QStringLiteral("dialog-warning"));
    // Without an icon theme, a text symbol stands in.
    if (symbol.isNull())
        icon->setText(QStringLiteral("⚠"));
    else
        icon->setPixmap(symbol.pixmap(20, 20));
    warningLayout->addWidget(icon);
    auto* warningText =
        new QLabel(QStringLiteral("Git is tracking .env — secrets may be pushed to your remote."), m_warning);
    warningText->setWordWrap(true);
    warningLayout->addWidget(warningText, 1);
    m_warning->setAutoFillBackground(true);
    QPalette banner = m_warning->palette();
    QColor tint = semanticColor(Semantic::caution, banner);
    tint.setAlpha(isDark(banner) ? 70 : 40);
    banner.setColor(QPalette::Window, tint);
    m_warning->setPalette(banner);
    m_warning->hide();
    layout->addWidget(m_warning);

    m_summary = new QFormLayout;
    m_summary->setLabelAlignment(Qt::AlignRight);
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    for (const QString& key : summaryKeys) {
        auto* value = new QLabel(this);
        value->setFont(mono);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_values.insert(key, value);
        m_summary->addRow(key, value);
    }
    layout->addLayout(m_summary);
    layout->addSpacing(6);
    auto* file =
        new QLabel(QDir::toNativeSeparators(QDir(m_site->path()).filePath(QStringLiteral(".env"))), this);
    file->setForegroundRole(QPalette::PlaceholderText);
    file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(file);

    m_editor = new QPlainTextEdit(this);
    m_editor->setFont(mono);
    m_editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_editor->setAccessibleName(QStringLiteral(".env"));
    layout->addWidget(m_editor, 1);

    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    layout->addWidget(m_message);

    auto* buttons = new QDialogButtonBox(this);
    m_regenerate = buttons->addButton(QStringLiteral("Regenerate APP_KEY"), QDialogButtonBox::ResetRole);
    m_regenerate->setIcon(QIcon::fromTheme(QStringLiteral("view-refresh")));
    buttons->addButton(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
    m_save = buttons->addButton(QDialogButtonBox::Save);
    m_save->setText(QStringLiteral("Save"));
    m_save->setDefault(true);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, [this] { save(); });
    connect(m_regenerate, &QPushButton::clicked, this, [this] { fireAndForget(this, regenerateKey()); });
    connect(m_editor, &QPlainTextEdit::textChanged, this, [this] {
        if (m_unreadable)
            return;
        refreshSummary();
        m_save->setEnabled(isEdited());
        // Regenerating rewrites the file: only from a saved text, so no edit is lost.
        m_regenerate->setEnabled(!isEdited());
        m_regenerate->setToolTip(isEdited() ? tr("Save or cancel your edits first") : QString());
    });
    m_save->setEnabled(false);
}

LocalEnvironmentSheet::~LocalEnvironmentSheet()
{
    m_life.end();
}

QCoro::Task<> LocalEnvironmentSheet::load()
{
    const LifeToken alive = m_life.token();
    try {
        showText(DotEnvFile::load(QDir(m_site->path()).filePath(QStringLiteral(".env"))));
    } catch (const DotEnvFileError& missing) {
        // No file yet: an empty editor whose Save creates it.
        showText(QString());
        setMessage(missing.description(), true);
    } catch (const HalvikError& error) {
        showUnreadable(error.description());
    }
    const bool tracked = co_await m_git.isTracked(m_site, QStringLiteral(".env"));
    if (!alive)
        co_return;
    m_warning->setVisible(tracked);
}

void LocalEnvironmentSheet::showText(const QString& text)
{
    m_crlf = text.contains(QLatin1String("\r\n"));
    m_saved = m_crlf ? QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")) : text;
    m_editor->setPlainText(m_saved);
    refreshSummary();
    m_save->setEnabled(false);
    m_regenerate->setEnabled(true);
}

void LocalEnvironmentSheet::showUnreadable(const QString& reason)
{
    // Whatever the file holds stays as it is: nothing here may write over it.
    m_unreadable = true;
    m_saved.clear();
    m_editor->clear();
    m_editor->setReadOnly(true);
    m_save->setEnabled(false);
    // Out of the button row for good (the row shows its buttons again on a style change).
    if (auto* row = qobject_cast<QDialogButtonBox*>(m_save->parentWidget()))
        row->removeButton(m_save);
    m_save->setParent(this);
    m_save->hide();
    m_regenerate->setEnabled(false);
    setMessage(QStringLiteral("Halvik couldn’t read this .env file, so it can’t be edited here. ") + reason,
               true);
}

QString LocalEnvironmentSheet::editedText() const
{
    // QPlainTextEdit::toPlainText() turns non-breaking spaces into plain ones; a password may
    // hold them, so the blocks are read as they are.
    QStringList lines;
    for (QTextBlock block = m_editor->document()->begin(); block.isValid(); block = block.next())
        lines << block.text();
    return lines.join(QLatin1Char('\n'));
}

void LocalEnvironmentSheet::refreshSummary()
{
    const auto entries = DotEnvFile::entries(editedText());
    for (const QString& key : summaryKeys) {
        const auto value = DotEnvFile::value(key, entries);
        QLabel* label = m_values.value(key);
        label->setText(value.value_or(QStringLiteral("—")));
        const bool database = key.startsWith(QLatin1String("DB_")) && key != QLatin1String("DB_CONNECTION");
        // Only the database settings the file has are shown; the address and driver always are.
        m_summary->setRowVisible(label, !database || value.has_value());
    }
}

bool LocalEnvironmentSheet::isEdited() const
{
    return !m_unreadable && editedText() != m_saved;
}

bool LocalEnvironmentSheet::save()
{
    if (m_unreadable)
        return false;
    const QString text = editedText();
    QString bytes = text;
    if (m_crlf) {
        if (!bytes.isEmpty() && !bytes.endsWith(QLatin1Char('\n')))
            bytes += QLatin1Char('\n');
        bytes.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    }
    try {
        DotEnvFile::save(bytes, QDir(m_site->path()).filePath(QStringLiteral(".env")));
    } catch (const HalvikError& error) {
        setMessage(error.description(), true);
        return false;
    }
    m_saved = text;
    m_save->setEnabled(false);
    m_regenerate->setEnabled(true);
    setMessage(QStringLiteral("Saved local .env"), false);
    return true;
}

QCoro::Task<> LocalEnvironmentSheet::regenerateKey()
{
    if (isEdited() || m_unreadable)
        co_return;
    const LifeToken alive = m_life.token();
    m_regenerate->setEnabled(false);
    setMessage(tr("Regenerating APP_KEY…"), false);
    try {
        const QStringList args{QStringLiteral("key:generate"), QStringLiteral("--force")};
        co_await m_composer.runPHP(m_site, QStringLiteral("artisan"), args, OperationKind::artisan);
        if (!alive)
            co_return;
        showText(DotEnvFile::load(QDir(m_site->path()).filePath(QStringLiteral(".env"))));
        setMessage(QStringLiteral("Regenerated APP_KEY"), false);
    } catch (const HalvikError& error) {
        if (!alive)
            co_return;
        setMessage(error.description().trimmed().section(QLatin1Char('\n'), -3), true);
    }
    m_regenerate->setEnabled(!isEdited());
}

void LocalEnvironmentSheet::setMessage(const QString& text, bool problem)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText,
                     semanticColor(problem ? Semantic::danger : Semantic::success, palette));
    m_message->setPalette(palette);
    m_message->setText(text);
}

QString LocalEnvironmentSheet::messageText() const
{
    return m_message->text();
}

bool LocalEnvironmentSheet::isTrackingWarningShown() const
{
    return !m_warning->isHidden();
}

QString LocalEnvironmentSheet::summaryValue(const QString& key) const
{
    const QLabel* label = m_values.value(key);
    return label ? label->text() : QString();
}

} // namespace halvik::views
