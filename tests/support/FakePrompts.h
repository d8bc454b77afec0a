#pragma once

#include "app/UserPrompts.h"

#include <QList>
#include <QPair>

#include <deque>

namespace halvik::test {

// Answers questions from a queue of button titles and records everything it was shown.
class FakePrompts : public UserPrompts
{
public:
    std::deque<QString> answers;              // button titles, consumed in order
    QList<PromptDialog> asked;                // every question shown
    QList<QPair<QString, QString>> alerts;    // title, text
    std::deque<std::optional<QString>> folders;
    std::deque<std::optional<QString>> editors;
    QList<EditorPanel> editorPanels;

    int ask(const PromptDialog& dialog) override
    {
        asked.append(dialog);
        if (answers.empty())
            return dialog.cancelIndex;
        const QString answer = answers.front();
        answers.pop_front();
        const int index = dialog.buttons.indexOf(answer);
        return index >= 0 ? index : dialog.cancelIndex;
    }
    void alert(const QString& title, const QString& text) override { alerts.append({title, text}); }
    std::optional<QString> chooseEditor(const EditorPanel& panel) override
    {
        editorPanels.append(panel);
        if (editors.empty())
            return std::nullopt;
        auto editor = editors.front();
        editors.pop_front();
        return editor;
    }
    std::optional<QString> chooseFolder(const QString&, const QString&) override
    {
        if (folders.empty())
            return std::nullopt;
        auto folder = folders.front();
        folders.pop_front();
        return folder;
    }
};

} // namespace halvik::test
