#include "WidgetPrompts.h"

#include "DialogFinished.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace halvik::views {

namespace {

// Dialogs are deleted later: the one that just finished is still inside its own signal.
void dispose(const QPointer<QDialog>& dialog)
{
    if (dialog)
        dialog->deleteLater();
}

} // namespace

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

QCoro::Task<int> WidgetPrompts::ask(PromptDialog dialog)
{
    const QPointer<QDialog> box = makeBox(dialog, m_parent).release();
    DialogFinished waiting(box);
    const std::optional<int> finished = co_await waiting;
    int answer = dialog.cancelIndex;
    if (finished && box) {
        if (auto* clicked = static_cast<QMessageBox*>(box.data())->clickedButton())
            answer = clicked->property("promptIndex").toInt();
    }
    dispose(box);
    co_return answer;
}

QCoro::Task<> WidgetPrompts::alert(QString title, QString text)
{
    auto* message = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::Ok, m_parent);
    message->setInformativeText(text);
    const QPointer<QDialog> box = message;
    DialogFinished waiting(box);
    co_await waiting;
    dispose(box);
}

QCoro::Task<std::optional<QString>> WidgetPrompts::chooseFolder(QString title, QString startIn)
{
    auto* chooser = new QFileDialog(m_parent, title, startIn);
    chooser->setFileMode(QFileDialog::Directory);
    chooser->setOption(QFileDialog::ShowDirsOnly);
    const QPointer<QFileDialog> dialog = chooser;
    DialogFinished waiting(chooser);
    const std::optional<int> code = co_await waiting;
    std::optional<QString> folder;
    if (code == QDialog::Accepted && dialog && !dialog->selectedFiles().isEmpty())
        folder = dialog->selectedFiles().first();
    dispose(dialog.data());
    co_return folder;
}

QCoro::Task<std::optional<QString>> WidgetPrompts::chooseEditor(EditorPanel panel)
{
    // An editor is either a program or an installed desktop application.
    auto* chooser = new QFileDialog(m_parent, panel.prompt, panel.startIn);
    chooser->setFileMode(QFileDialog::ExistingFile);
    chooser->setLabelText(QFileDialog::Accept, panel.prompt);
    chooser->setNameFilters({QStringLiteral("Applications (*.desktop)"), QStringLiteral("Any program (*)")});
    if (!panel.message.isEmpty())
        chooser->setWindowTitle(panel.message);
    const QPointer<QFileDialog> dialog = chooser;
    DialogFinished waiting(chooser);
    const std::optional<int> code = co_await waiting;
    std::optional<QString> editor;
    if (code == QDialog::Accepted && dialog && !dialog->selectedFiles().isEmpty())
        editor = dialog->selectedFiles().first();
    dispose(dialog.data());
    co_return editor;
}

} // namespace halvik::views
