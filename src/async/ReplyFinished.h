#pragma once

#include <QNetworkReply>
#include <QPointer>

#include <coroutine>

namespace halvik {

// `co_await ReplyFinished{reply}` resumes once the reply has finished or has been destroyed
// (its manager went first), directly in the signal. A queued wake-up would be lost with the
// reply, leaving the coroutine suspended for ever; check the QPointer afterwards.
struct ReplyFinished
{
    QPointer<QNetworkReply> reply;
    QMetaObject::Connection finished;
    QMetaObject::Connection destroyed;

    bool await_ready() const noexcept { return !reply || reply->isFinished(); }
    void await_suspend(std::coroutine_handle<> waiting)
    {
        const auto wake = [this, waiting] {
            QObject::disconnect(finished);
            QObject::disconnect(destroyed);
            waiting.resume();
        };
        finished = QObject::connect(reply.data(), &QNetworkReply::finished, wake);
        destroyed = QObject::connect(reply.data(), &QObject::destroyed, wake);
    }
    void await_resume() const noexcept {}
};

} // namespace halvik
