#pragma once

#include "models/AppPreferences.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace halvik {

// A question with buttons, as the core asks it. `cancelIndex` is the button the Escape key
// answers; `warning` draws it as a caution.
struct PromptDialog
{
    QString title;
    QString text;
    QStringList buttons;
    int cancelIndex = -1;
    bool warning = true;
};

// Everything the core must ask or tell a person goes through here. The window implements it
// with dialogs; the CLI and the tests answer on their own.
class UserPrompts
{
public:
    virtual ~UserPrompts() = default;

    // Returns the index of the chosen button.
    virtual int ask(const PromptDialog& dialog) = 0;
    virtual void alert(const QString& title, const QString& text) = 0;
    // A folder chosen by the person, or nothing when they cancel.
    virtual std::optional<QString> chooseFolder(const QString& title, const QString& startIn) = 0;
    // An editor: an executable or an installed desktop application; nothing when cancelled.
    virtual std::optional<QString> chooseEditor(const EditorPanel& panel) = 0;
};

} // namespace halvik
