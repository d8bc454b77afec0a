#pragma once

#include "app/UserPrompts.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QMessageBox;

namespace halvik::views {

// Questions and alerts as window-modal message boxes over the main window.
class WidgetPrompts : public UserPrompts
{
public:
    void setParentWindow(QWidget* window) { m_parent = window; }

    int ask(const PromptDialog& dialog) override;
    void alert(const QString& title, const QString& text) override;
    std::optional<QString> chooseFolder(const QString& title, const QString& startIn) override;
    std::optional<QString> chooseEditor(const EditorPanel& panel) override;

    // The box ask() shows, built but not run (screenshots use it too).
    static std::unique_ptr<QMessageBox> makeBox(const PromptDialog& dialog, QWidget* parent);

private:
    QPointer<QWidget> m_parent;
};

} // namespace halvik::views
