#include "views/sites/ImportAllSheet.h"
#include "views/common/SemanticColors.h"

#include "app/ImportAllModel.h"
#include "app/UserPrompts.h"
#include "async/FireAndForget.h"

#include <QCoroTask>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvik::views {

ImportAllSheet::ImportAllSheet(ImportAllModel& model, UserPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_model(model), m_prompts(prompts)
{
    setWindowTitle(QStringLiteral("Import All Quillmar Sites"));
    setWindowModality(Qt::WindowModal);
    resize(600, 460);

    auto* title = new QLabel(QStringLiteral("Import All Quillmar Sites"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    title->setFont(big);

    m_folder = new QLineEdit;
    m_folder->setPlaceholderText(QStringLiteral("Parent folder"));
    m_choose = new QPushButton(QStringLiteral("Choose…"));
    m_scan = new QPushButton(QStringLiteral("Scan"));
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(m_choose);
    folderRow->addWidget(m_scan);

    m_summary = new QLabel;
    m_hint = new QLabel(emptyHint());
    m_hint->setTextFormat(Qt::RichText);
    m_error = new QLabel;
    setSemanticText(m_error, Semantic::danger);
    m_list = new QListWidget;

    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QDialogButtonBox::Cancel);
    m_import = buttons->addButton(QStringLiteral("Import"), QDialogButtonBox::AcceptRole);
    m_import->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_import, &QPushButton::clicked, this, [this] { fireAndForget(this, importAndClose()); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addLayout(folderRow);
    layout->addWidget(m_summary);
    layout->addWidget(m_hint);
    layout->addWidget(m_error);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);

    connect(m_folder, &QLineEdit::textEdited, &m_model, &ImportAllModel::setFolderText);
    connect(m_folder, &QLineEdit::returnPressed, this, &ImportAllSheet::rescan);
    connect(m_scan, &QPushButton::clicked, this, &ImportAllSheet::rescan);
    connect(m_choose, &QPushButton::clicked, this, [this] { fireAndForget(this, choose()); });
    connect(m_list, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (!m_syncing)
            m_model.setSelected(item->data(Qt::UserRole).toString(), item->checkState() == Qt::Checked);
    });
    connect(&m_model, &ImportAllModel::changed, this, &ImportAllSheet::sync);
    sync();
}

QString ImportAllSheet::emptyHint()
{
    return QStringLiteral("Nothing with a <code>keffin</code> binary and composer.json in this folder yet.");
}

void ImportAllSheet::sync()
{
    m_syncing = true;
    if (m_folder->text() != m_model.folderText())
        m_folder->setText(m_model.folderText());
    const bool none = m_model.candidates().isEmpty();
    const bool hasError = !m_model.errorText().isEmpty();
    m_summary->setText(m_model.scanSummary());
    m_summary->setVisible(m_scanned && !hasError);
    m_hint->setVisible(m_scanned && none && !hasError);
    m_error->setText(m_model.errorText());
    m_error->setVisible(hasError);

    m_list->clear();
    for (const DiscoveredSite& site : m_model.candidates()) {
        QString text = QFileInfo(site.path).fileName() + QStringLiteral("  —  ") + site.path;
        if (site.existingName)
            text += QStringLiteral("\nAlready in Halvik as “") + *site.existingName + QStringLiteral("”");
        auto* item = new QListWidgetItem(text, m_list);
        item->setData(Qt::UserRole, site.path);
        item->setFlags(site.isAlreadyInHalvik() ? Qt::ItemIsUserCheckable
                                                : Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        item->setCheckState(m_model.isSelected(site.path) ? Qt::Checked : Qt::Unchecked);
    }
    m_import->setText(m_model.importTitle());
    m_import->setEnabled(!m_model.isImporting() && !m_model.selectedSites().isEmpty());
    m_scan->setEnabled(!m_model.isImporting());
    m_syncing = false;
}

void ImportAllSheet::rescan()
{
    m_model.setFolderText(m_folder->text());
    fireAndForget(this, rescanAndShow());
}

QCoro::Task<> ImportAllSheet::rescanAndShow()
{
    const LifeToken alive = m_life.token();
    co_await m_model.rescan();
    if (!alive)
        co_return;
    m_scanned = true;
    sync();
}

QCoro::Task<> ImportAllSheet::choose()
{
    const LifeToken alive = m_life.token();
    const QString typed = m_model.folderText().trimmed();
    const QString start = typed.isEmpty() ? QDir::homePath() : typed;
    const QString title = QStringLiteral("Choose a folder of Quillmar sites");
    const std::optional<QString> folder = co_await m_prompts.chooseFolder(title, start);
    if (!alive || !folder)
        co_return;
    m_model.setFolderText(*folder);
    rescan();
}

QCoro::Task<> ImportAllSheet::importAndClose()
{
    const LifeToken alive = m_life.token();
    co_await m_model.importAll();
    if (alive && m_model.errorText().isEmpty())
        accept();
}

} // namespace halvik::views
