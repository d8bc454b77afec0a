#pragma once

#include "models/AppPreferences.h"

#include <QCoroTask>
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
//
// Every prompt is awaited: the window keeps running while it is open, so the object that asked
// may be gone by the time the answer arrives. Callers check their LifeGuard after each one.
// Arguments are taken by value because they must outlive the caller's expression.
class UserPrompts
{
public:
    virtual ~UserPrompts() = default;

    // The index of the chosen button; `cancelIndex` when the prompt is dismissed.
    virtual QCoro::Task<int> ask(PromptDialog dialog) = 0;
    virtual QCoro::Task<> alert(QString title, QString text) = 0;
    // A folder chosen by the person, or nothing when they cancel.
    virtual QCoro::Task<std::optional<QString>> chooseFolder(QString title, QString startIn) = 0;
    // An editor: an executable or an installed desktop application; nothing when cancelled.
    virtual QCoro::Task<std::optional<QString>> chooseEditor(EditorPanel panel) = 0;
};

} // namespace halvik
