#pragma once

#include "app/UserPrompts.h"

#include <QList>
#include <QPair>

#include <coroutine>
#include <deque>
#include <memory>

namespace halvik::test {

// Answers questions from a queue of button titles and records everything it was shown.
//
// With `holdQuestions` set, a question stays open instead: ask() suspends until the test calls
// answer(), as a person would click a button while the window goes on. Whatever is still open
// when the fake goes away is dismissed (answered with its cancel button).
class FakePrompts : public UserPrompts
{
public:
    std::deque<QString> answers;           // button titles, consumed in order
    QList<PromptDialog> asked;             // every question shown
    QList<QPair<QString, QString>> alerts; // title, text
    std::deque<std::optional<QString>> folders;
    std::deque<std::optional<QString>> editors;
    QList<EditorPanel> editorPanels;
    bool holdQuestions = false;

    FakePrompts() = default;
    FakePrompts(const FakePrompts&) = delete;
    FakePrompts& operator=(const FakePrompts&) = delete;
    ~FakePrompts() override
    {
        while (!m_open.empty())
            answer(QString());
    }

    // Questions asked while held and not answered yet, oldest first.
    int openQuestions() const { return int(m_open.size()); }
    // Answers the oldest open question with the button titled `button` (any other text
    // dismisses it); the asking flow resumes before this returns.
    void answer(const QString& button)
    {
        if (m_open.empty())
            return;
        const std::shared_ptr<Open> open = m_open.front();
        m_open.pop_front();
        open->answer = indexOf(open->dialog, button);
        if (open->waiting)
            open->waiting.resume();
    }

    QCoro::Task<int> ask(PromptDialog dialog) override
    {
        asked.append(dialog);
        if (holdQuestions) {
            auto open = std::make_shared<Open>();
            open->dialog = dialog;
            m_open.push_back(open);
            HeldAnswer held{open};
            co_return co_await held;
        }
        QString title;
        if (!answers.empty()) {
            title = answers.front();
            answers.pop_front();
        }
        co_return indexOf(dialog, title);
    }
    QCoro::Task<> alert(QString title, QString text) override
    {
        alerts.append({title, text});
        co_return;
    }
    QCoro::Task<std::optional<QString>> chooseEditor(EditorPanel panel) override
    {
        editorPanels.append(panel);
        co_return next(editors);
    }
    QCoro::Task<std::optional<QString>> chooseFolder(QString, QString) override { co_return next(folders); }

private:
    struct Open
    {
        PromptDialog dialog;
        std::coroutine_handle<> waiting;
        int answer = -1;
    };
    struct HeldAnswer
    {
        std::shared_ptr<Open> open;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiting) noexcept { open->waiting = waiting; }
        int await_resume() const noexcept { return open->answer; }
    };

    static int indexOf(const PromptDialog& dialog, const QString& button)
    {
        const int index = dialog.buttons.indexOf(button);
        return index >= 0 ? index : dialog.cancelIndex;
    }
    static std::optional<QString> next(std::deque<std::optional<QString>>& queue)
    {
        if (queue.empty())
            return std::nullopt;
        auto value = queue.front();
        queue.pop_front();
        return value;
    }

    std::deque<std::shared_ptr<Open>> m_open;
};

} // namespace halvik::test
