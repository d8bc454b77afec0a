#include "views/sites/ImportSheet.h"
#include "views/common/SemanticColors.h"

#include "app/ImportSiteModel.h"
#include "async/FireAndForget.h"

#include <QCoroTask>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvik::views {

ImportSheet::ImportSheet(ImportSiteModel& model, QWidget* parent) : QDialog(parent), m_model(model)
{
    setWindowTitle(QStringLiteral("Import Existing Site"));
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(520);

    auto* title = new QLabel(QStringLiteral("Import Existing Site"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    title->setFont(big);
    auto* explanation =
        new QLabel(QStringLiteral("Point Halvik at a folder that already has Quillmar installed."));
    explanation->setWordWrap(true);

    m_name = new QLineEdit;
    m_path = new QLineEdit;
    m_path->setPlaceholderText(QStringLiteral("~/Sites/my-site"));
    m_choose = new QPushButton(QStringLiteral("Choose…"));
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(m_choose);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Display name"), m_name);
    form->addRow(QStringLiteral("Project path"), pathRow);

    m_notice = new QLabel;
    m_git = new QLabel;
    m_error = new QLabel;
    setSemanticText(m_error, Semantic::danger);
    for (QLabel* label : {m_notice, m_git, m_error})
        label->setWordWrap(true);

    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QDialogButtonBox::Cancel);
    m_import = buttons->addButton(QStringLiteral("Import"), QDialogButtonBox::AcceptRole);
    m_import->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_import, &QPushButton::clicked, this, &ImportSheet::startImport);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(explanation);
    layout->addLayout(form);
    layout->addWidget(m_notice);
    layout->addWidget(m_git);
    layout->addWidget(m_error);
    layout->addStretch();
    layout->addWidget(buttons);

    connect(m_name, &QLineEdit::textEdited, &m_model, &ImportSiteModel::setDisplayName);
    connect(m_path, &QLineEdit::textEdited, &m_model, &ImportSiteModel::applyPath);
    connect(m_choose, &QPushButton::clicked, this, [this] { fireAndForget(this, m_model.pick()); });
    connect(&m_model, &ImportSiteModel::changed, this, &ImportSheet::sync);
    sync();
}

void ImportSheet::sync()
{
    if (m_name->text() != m_model.displayName())
        m_name->setText(m_model.displayName());
    if (m_path->text() != m_model.projectPath())
        m_path->setText(m_model.projectPath());
    m_notice->setText(m_model.existingSiteNotice().value_or(QString()));
    m_notice->setVisible(m_model.existingSiteNotice().has_value());
    m_git->setText(m_model.gitHint().value_or(QString()));
    m_git->setVisible(m_model.gitHint().has_value());
    m_error->setText(m_model.errorText());
    m_error->setVisible(!m_model.errorText().isEmpty());
    m_import->setEnabled(!m_model.isImporting() && !m_model.projectPath().trimmed().isEmpty());
    m_import->setText(m_model.isImporting() ? QStringLiteral("Importing…") : QStringLiteral("Import"));
}

void ImportSheet::startImport()
{
    fireAndForget(this, importAndClose());
}

QCoro::Task<> ImportSheet::importAndClose()
{
    const LifeToken alive = m_life.token();
    const bool done = co_await m_model.importSite();
    if (alive && done)
        accept();
}

} // namespace halvik::views
