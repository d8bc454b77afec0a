#pragma once

#include "app/AppServices.h"
#include "app/UserPrompts.h"
#include "async/HalvikError.h"

#include <QStringList>
#include <QTextStream>

namespace halvik::cli {

// Headless prompts: nobody can answer, so questions take their cancel button, and alerts
// become lines on standard error.
class CliPrompts : public UserPrompts
{
public:
    int ask(const PromptDialog& dialog) override { return dialog.cancelIndex; }
    void alert(const QString& title, const QString& text) override { alerts << title + QStringLiteral(": ") + text; }
    std::optional<QString> chooseFolder(const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> chooseEditor(const EditorPanel&) override { return std::nullopt; }

    QStringList alerts;
};

// A failure that ends the command: printed as one line on standard error, exit status 1.
class CliError : public HalvikError
{
public:
    using HalvikError::HalvikError;
};

// Finds a registered site by id, folder path, or a display name that matches exactly one site.
SitePtr resolveSite(const SiteStore& store, const QString& reference);

QTextStream& out();

} // namespace halvik::cli
