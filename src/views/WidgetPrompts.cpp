#include "WidgetPrompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace halvik::views {

std::unique_ptr<QMessageBox> WidgetPrompts::makeBox(const PromptDialog& dialog, QWidget* parent)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setIcon(dialog.warning ? QMessageBox::Warning : QMessageBox::Question);
    box->setWindowTitle(dialog.title);
    box->setText(dialog.title);
    box->setInformativeText(dialog.text);
    for (int i = 0; i < dialog.buttons.size(); ++i) {
        const auto role = i == dialog.cancelIndex ? QMessageBox::RejectRole
                          : i == 0               ? QMessageBox::AcceptRole
                                                 : QMessageBox::ActionRole;
        QPushButton* button = box->addButton(dialog.buttons.at(i), role);
        button->setProperty("promptIndex", i);
        if (i == dialog.cancelIndex)
            box->setEscapeButton(button);
        if (i == 0)
            box->setDefaultButton(button);
    }
    return box;
}

int WidgetPrompts::ask(const PromptDialog& dialog)
{
    auto box = makeBox(dialog, m_parent);
    box->exec();
    auto* clicked = box->clickedButton();
    return clicked ? clicked->property("promptIndex").toInt() : dialog.cancelIndex;
}

void WidgetPrompts::alert(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title, title, QMessageBox::Ok, m_parent);
    box.setInformativeText(text);
    box.exec();
}

std::optional<QString> WidgetPrompts::chooseFolder(const QString& title, const QString& startIn)
{
    const QString folder = QFileDialog::getExistingDirectory(m_parent, title, startIn);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

} // namespace halvik::views

namespace halvik::views {

std::optional<QString> WidgetPrompts::chooseEditor(const EditorPanel& panel)
{
    // An editor is either a program or an installed desktop application.
    QFileDialog dialog(m_parent, panel.prompt, panel.startIn);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setLabelText(QFileDialog::Accept, panel.prompt);
    dialog.setNameFilters({QStringLiteral("Applications (*.desktop)"), QStringLiteral("Any program (*)")});
    if (!panel.message.isEmpty())
        dialog.setWindowTitle(panel.message);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

} // namespace halvik::views
