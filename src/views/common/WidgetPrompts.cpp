#include "views/common/WidgetPrompts.h"

#include "views/settings/EditorChooser.h"

#include "views/common/DialogFinished.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace halvik::views {

namespace {

// A dialog that finished is deleted later: it is still inside its own signal. One that did not
// finish was destroyed under the question and must not be touched at all (a QPointer may not
// have noticed yet while a widget's destructor runs).
void dispose(QDialog* dialog, const std::optional<int>& finished)
{
    if (finished)
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
                          : i == 0                ? QMessageBox::AcceptRole
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
    QMessageBox* box = makeBox(dialog, m_parent).release();
    DialogFinished waiting(box);
    const std::optional<int> finished = co_await waiting;
    int answer = dialog.cancelIndex;
    if (finished) {
        if (const QAbstractButton* clicked = box->clickedButton())
            answer = clicked->property("promptIndex").toInt();
    }
    dispose(box, finished);
    co_return answer;
}

QCoro::Task<> WidgetPrompts::alert(QString title, QString text)
{
    auto* message = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::Ok, m_parent);
    message->setInformativeText(text);
    DialogFinished waiting(message);
    const std::optional<int> finished = co_await waiting;
    dispose(message, finished);
}

QCoro::Task<std::optional<QString>> WidgetPrompts::chooseFolder(QString title, QString startIn)
{
    auto* chooser = new QFileDialog(m_parent, title, startIn);
    chooser->setFileMode(QFileDialog::Directory);
    chooser->setOption(QFileDialog::ShowDirsOnly);
    DialogFinished waiting(chooser);
    const std::optional<int> code = co_await waiting;
    std::optional<QString> folder;
    if (code == QDialog::Accepted && !chooser->selectedFiles().isEmpty())
        folder = chooser->selectedFiles().first();
    dispose(chooser, code);
    co_return folder;
}

QCoro::Task<std::optional<QString>> WidgetPrompts::chooseEditor(EditorPanel panel)
{
    // An editor is an installed desktop application, or any program through "Other…".
    auto* chooser =
        new EditorChooser(EditorApplications::candidates(), panel.message, panel.prompt, m_parent);
    DialogFinished waiting(chooser);
    const std::optional<int> code = co_await waiting;
    std::optional<QString> editor;
    if (code == QDialog::Accepted && !chooser->chosenPath().isEmpty())
        editor = chooser->chosenPath();
    dispose(chooser, code);
    co_return editor;
}

} // namespace halvik::views
