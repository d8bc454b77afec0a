#include "views/settings/RuntimeSettingsPane.h"
#include "views/common/SemanticColors.h"

#include "services/runtime/NodeRuntime.h"
#include "services/runtime/RuntimeFiles.h"
#include "services/runtime/RuntimeManager.h"

#include "platform/PlatformTexts.h"

#include "async/FireAndForget.h"
#include "async/HalvikError.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QVBoxLayout>

namespace halvik::views {

namespace {

QLabel* sectionTitle(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLabel* wrapped(const QString& text, QWidget* parent, bool muted = false)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    if (muted)
        label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

// "Downloading PHP 8.3.10… 42%" -> 42; nothing known -> -1 (a busy bar).
int percentIn(const QString& progress)
{
    static const QRegularExpression percent(QStringLiteral("(\\d+)%$"));
    const auto match = percent.match(progress);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

void showProgress(QProgressBar* bar, const std::optional<QString>& text)
{
    bar->setVisible(text.has_value());
    const int value = text ? percentIn(*text) : -1;
    bar->setRange(0, value < 0 ? 0 : 100);
    if (value >= 0)
        bar->setValue(value);
}

} // namespace

RuntimeSettingsPane::RuntimeSettingsPane(RuntimeManager& runtime, QWidget* parent)
    : QWidget(parent), m_runtime(runtime)
{
    auto* layout = new QVBoxLayout(this);

    // Node.
    layout->addWidget(sectionTitle(QStringLiteral("Node"), this));
    layout->addWidget(
        wrapped(QStringLiteral("Needed for Vite and static-site publishing. Halvik can download official "
                               "Node 22 LTS — it stays out of your PATH."),
                this, true));
    m_nodeSource = wrapped(QString(), this);
    layout->addWidget(m_nodeSource);
    auto* nodeButtons = new QHBoxLayout;
    m_nodeInstall = new QPushButton(QIcon::fromTheme(QStringLiteral("download")),
                                    QStringLiteral("Install Node for Halvik"), this);
    m_nodeRemove = new QPushButton(QIcon::fromTheme(QStringLiteral("edit-delete")),
                                   QStringLiteral("Remove Halvik’s Node"), this);
    m_nodeCancel = new QPushButton(QStringLiteral("Cancel"), this);
    nodeButtons->addWidget(m_nodeInstall);
    nodeButtons->addWidget(m_nodeRemove);
    nodeButtons->addWidget(m_nodeCancel);
    nodeButtons->addStretch();
    layout->addLayout(nodeButtons);
    auto* nodeProgressRow = new QHBoxLayout;
    m_nodeProgressText = new QLabel(this);
    m_nodeProgress = new QProgressBar(this);
    m_nodeProgress->setTextVisible(false);
    nodeProgressRow->addWidget(m_nodeProgressText, 1);
    nodeProgressRow->addWidget(m_nodeProgress, 1);
    layout->addLayout(nodeProgressRow);
    layout->addSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing) * 3);

    // PHP.
    layout->addWidget(sectionTitle(QStringLiteral("PHP"), this));
    m_phpIntro = wrapped(QString(), this, true);
    layout->addWidget(m_phpIntro);
    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    int row = 0;
    for (const QString& line : RuntimeFiles::offeredPHPLines()) {
        PHPRow entry{line, new QLabel(this), new QProgressBar(this), new QPushButton(this)};
        entry.progress->setTextVisible(false);
        entry.progress->setMaximumWidth(160);
        grid->addWidget(new QLabel(QStringLiteral("PHP ") + line, this), row, 0);
        grid->addWidget(entry.status, row, 1);
        grid->addWidget(entry.progress, row, 2);
        grid->addWidget(entry.action, row, 3);
        connect(entry.action, &QPushButton::clicked, this, [this, line] {
            if (m_runtime.extraPHP(line) && !m_runtime.extraPHP(line)->bundled) {
                try {
                    m_runtime.removeManagedPHP(line);
                } catch (const HalvikError& error) {
                    showError(error.description());
                }
                return;
            }
            fireAndForget(this, runInstall([this, line] { return m_runtime.installManagedPHP(line); }));
        });
        m_phpRows << entry;
        ++row;
    }
    layout->addLayout(grid);
    m_phpCancel = new QPushButton(QStringLiteral("Cancel Download"), this);
    auto* phpCancelRow = new QHBoxLayout;
    phpCancelRow->addStretch();
    phpCancelRow->addWidget(m_phpCancel);
    layout->addLayout(phpCancelRow);
    layout->addWidget(
        wrapped(QStringLiteral("Extra Halvik PHP versions are unused unless Default PHP is Halvik PHP. "
                               "Herd versions live in Herd."),
                this, true));
    layout->addSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing) * 3);

    layout->addWidget(sectionTitle(QStringLiteral("Composer"), this));
    m_composer = wrapped(QString(), this);
    m_composer->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_composer);

    m_error = wrapped(QString(), this);
    setSemanticText(m_error, Semantic::danger);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_error);
    layout->addStretch();

    connect(m_nodeInstall, &QPushButton::clicked, this,
            [this] { fireAndForget(this, runInstall([this] { return m_runtime.installManagedNode(); })); });
    connect(m_nodeRemove, &QPushButton::clicked, this, [this] {
        try {
            m_runtime.removeManagedNode();
        } catch (const HalvikError& error) {
            showError(error.description());
        }
        refresh();
    });
    connect(m_nodeCancel, &QPushButton::clicked, &m_runtime, &RuntimeManager::cancelNodeInstall);
    connect(m_phpCancel, &QPushButton::clicked, &m_runtime, &RuntimeManager::cancelPHPInstall);
    connect(&m_runtime, &RuntimeManager::changed, this, &RuntimeSettingsPane::refresh);
    m_error->hide();
    refresh();
}

QString RuntimeSettingsPane::errorText() const
{
    return m_error->isVisible() ? m_error->text() : QString();
}

QCoro::Task<> RuntimeSettingsPane::runInstall(std::function<QCoro::Task<>()> install)
{
    const LifeToken alive = m_life.token();
    m_error->hide();
    QString failure;
    try {
        co_await install();
    } catch (const CancelledError&) {
    } catch (const HalvikError& error) {
        failure = error.description();
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    }
    if (!alive)
        co_return;
    if (!failure.isEmpty())
        showError(failure);
    refresh();
}

void RuntimeSettingsPane::showError(const QString& sentence)
{
    m_error->setText(sentence);
    m_error->show();
}

void RuntimeSettingsPane::refresh()
{
    refreshNode();
    refreshPHP();
    const RuntimeSnapshot& snapshot = m_runtime.snapshot();
    QString composer = snapshot.composerPath
                           ? *snapshot.composerPath + QStringLiteral(" — ") +
                                 snapshot.composerVersion.value_or(QStringLiteral("version unknown"))
                           : QStringLiteral("Composer was not found.");
    if (snapshot.latestComposerVersion)
        composer += QStringLiteral(" (latest ") + *snapshot.latestComposerVersion + QLatin1Char(')');
    m_composer->setText(composer);
}

void RuntimeSettingsPane::refreshNode()
{
    const NodeRuntime node(m_runtime.roots());
    const auto toolchain = node.resolve();
    const bool managed = node.hasManagedNode();
    QString source;
    if (!toolchain)
        source = QStringLiteral("No Node was found on %1.").arg(PlatformTexts::thisComputer());
    else if (toolchain->source == NodeSource::managed)
        source = QStringLiteral("Halvik’s copy. Used because nothing else on %1 provides Node.")
                     .arg(PlatformTexts::thisComputer());
    else
        source = title(toolchain->source) + QStringLiteral("’s Node.") +
                 (managed ? QStringLiteral(" Halvik also has its own copy unused.") : QString());
    if (toolchain)
        source += QStringLiteral("\n") + toolchain->node;
    m_nodeSource->setText(source);

    const bool installing = m_runtime.isInstallingNode();
    m_nodeInstall->setVisible(!managed && !installing);
    m_nodeRemove->setVisible(managed && !installing);
    m_nodeCancel->setVisible(installing);
    m_nodeProgressText->setVisible(installing);
    m_nodeProgressText->setText(QStringLiteral("Installing Node… ") +
                                m_runtime.nodeInstallProgress().value_or(QString()));
    showProgress(m_nodeProgress,
                 installing ? m_runtime.nodeInstallProgress().value_or(QString()) : std::optional<QString>());
}

void RuntimeSettingsPane::refreshPHP()
{
    const RuntimeSnapshot& snapshot = m_runtime.snapshot();
    const bool bundled = snapshot.managedPHPPath.has_value();
    m_phpIntro->setText(
        bundled ? QStringLiteral("Halvik can download official static PHP builds. Bundled 8.4 is already "
                                 "here.")
                : QStringLiteral("Halvik can download official static PHP builds. No PHP is bundled "
                                 "with Halvik on %1, so sites use Herd’s, the system’s or a "
                                 "downloaded PHP.")
                      .arg(PlatformTexts::thisComputer()));
    const bool installing = m_runtime.isInstallingPHP();
    for (const PHPRow& row : std::as_const(m_phpRows)) {
        const auto installed = m_runtime.extraPHP(row.line);
        const bool thisLine = installing && m_runtime.phpInstallLine() == row.line;
        QString status;
        if (thisLine)
            status = m_runtime.phpInstallProgress().value_or(QString());
        else if (installed)
            status = QStringLiteral("Installed: ") + installed->version.value_or(row.line);
        else if (row.line == QLatin1String(RuntimeFiles::seededPHPLine) && bundled)
            status =
                QStringLiteral("Download the latest static PHP %1 and use it instead of the bundled copy")
                    .arg(row.line);
        else
            status = QStringLiteral("Not installed");
        row.status->setText(status);
        row.action->setText(installed ? QStringLiteral("Remove") : QStringLiteral("Download"));
        row.action->setIcon(
            QIcon::fromTheme(installed ? QStringLiteral("edit-delete") : QStringLiteral("download")));
        row.action->setEnabled(!installing);
        showProgress(row.progress, thisLine ? m_runtime.phpInstallProgress().value_or(QString())
                                            : std::optional<QString>());
    }
    m_phpCancel->setVisible(installing);
}

} // namespace halvik::views
