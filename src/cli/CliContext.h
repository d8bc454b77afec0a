#pragma once

#include "app/AppServices.h"
#include "app/UserPrompts.h"
#include "async/HalvikError.h"

#include <QStringList>
#include <QTextStream>

namespace halvik::cli {

// Headless prompts: nobody can answer, so questions take their cancel button, and alerts
// are kept; a command that raised one fails with it.
class CliPrompts : public UserPrompts
{
public:
    QCoro::Task<int> ask(PromptDialog dialog) override { co_return dialog.cancelIndex; }
    QCoro::Task<> alert(QString title, QString text) override
    {
        alerts << title + QStringLiteral(": ") + text;
        co_return;
    }
    QCoro::Task<std::optional<QString>> chooseFolder(QString, QString) override { co_return std::nullopt; }
    QCoro::Task<std::optional<QString>> chooseEditor(EditorPanel) override { co_return std::nullopt; }

    QStringList alerts;
};

// Whatever ends a command early. It is caught once, at the top, and printed as
// "halvik: <description>" on standard error; the exit status is 1 for a failure and 2 for a
// command line that could not be understood (unknown command, missing argument, bad option).
class CliError : public HalvikError
{
public:
    enum class Kind
    {
        failure,
        usage
    };

    explicit CliError(QString description, Kind kind = Kind::failure)
        : HalvikError(std::move(description)), m_kind(kind)
    {
    }
    static CliError usage(QString description) { return CliError(std::move(description), Kind::usage); }

    Kind kind() const { return m_kind; }
    int exitCode() const { return m_kind == Kind::usage ? 2 : 1; }

private:
    Kind m_kind;
};

// Finds a registered site by id, folder path, or a display name that matches exactly one site.
SitePtr resolveSite(const SiteStore& store, const QString& reference);

QTextStream& out();

} // namespace halvik::cli
