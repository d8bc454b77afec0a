#pragma once

#include "app/UserPrompts.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QMessageBox;

namespace halvik::views {

// Questions, alerts and file choosers as window-modal dialogs over the main window, opened with
// QDialog::open() and awaited until they finish.
class WidgetPrompts : public UserPrompts
{
public:
    void setParentWindow(QWidget* window) { m_parent = window; }

    QCoro::Task<int> ask(PromptDialog dialog) override;
    QCoro::Task<> alert(QString title, QString text) override;
    QCoro::Task<std::optional<QString>> chooseFolder(QString title, QString startIn) override;
    QCoro::Task<std::optional<QString>> chooseEditor(EditorPanel panel) override;

    // The box ask() shows, built but not opened (screenshots use it too).
    static std::unique_ptr<QMessageBox> makeBox(const PromptDialog& dialog, QWidget* parent);

private:
    QPointer<QWidget> m_parent;
};

} // namespace halvik::views
