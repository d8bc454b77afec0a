#pragma once

#include <QDialog>
#include <QMetaObject>
#include <QPointer>

#include <coroutine>
#include <optional>

namespace halvik::views {

// Opens `dialog` window-modal over its parent (QDialog::open()) and suspends the awaiting
// coroutine until the dialog finishes, resuming it with the result code. When the dialog is
// destroyed before it finishes (its window went away), the coroutine resumes with nothing
// instead of waiting forever, and must not touch the dialog again. The event loop keeps
// running meanwhile: never exec().
//
//     const std::optional<int> code = co_await DialogFinished(box);
class DialogFinished
{
public:
    explicit DialogFinished(QDialog* dialog) : m_dialog(dialog) {}
    // The coroutine machinery may copy it before it suspends; connections are made only then.
    DialogFinished(const DialogFinished& other) : m_dialog(other.m_dialog) {}
    DialogFinished& operator=(const DialogFinished&) = delete;
    ~DialogFinished() { disconnect(); }

    bool await_ready() const noexcept { return m_dialog.isNull(); }
    void await_suspend(std::coroutine_handle<> waiting)
    {
        m_finished = QObject::connect(m_dialog, &QDialog::finished, [this, waiting](int code) {
            m_result = code;
            resume(waiting);
        });
        m_destroyed = QObject::connect(m_dialog, &QObject::destroyed, [this, waiting] { resume(waiting); });
        m_dialog->open();
    }
    std::optional<int> await_resume() const { return m_result; }

private:
    void disconnect()
    {
        QObject::disconnect(m_finished);
        QObject::disconnect(m_destroyed);
    }
    void resume(std::coroutine_handle<> waiting)
    {
        disconnect();
        waiting.resume();
    }

    QPointer<QDialog> m_dialog;
    QMetaObject::Connection m_finished;
    QMetaObject::Connection m_destroyed;
    std::optional<int> m_result;
};

} // namespace halvik::views
