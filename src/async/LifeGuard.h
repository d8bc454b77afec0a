#pragma once

#include <memory>

namespace halvik {

// What a suspended coroutine holds to learn, once it resumes, whether the object it works for
// still exists. A default token is never alive.
class LifeToken
{
public:
    LifeToken() = default;
    explicit operator bool() const noexcept { return m_alive && *m_alive; }

private:
    friend class LifeGuard;
    explicit LifeToken(std::shared_ptr<const bool> alive) : m_alive(std::move(alive)) {}
    std::shared_ptr<const bool> m_alive;
};

// The one way an object tells its own coroutines that it has gone. The object keeps a LifeGuard
// as its last data member, so the guard ends before any other member is destroyed. A coroutine
// takes a token before its first co_await and checks it after every one, before it touches
// the object again:
//
//     const LifeToken alive = m_life.token();
//     const int choice = co_await prompts.ask(dialog);
//     if (!alive)
//         co_return;
//
// A destructor that does work of its own (stopping a monitor, cancelling a job) calls end()
// first, so nothing that work resumes mistakes the half-destroyed object for a living one.
class LifeGuard
{
public:
    LifeGuard() = default;
    ~LifeGuard() { end(); }
    LifeGuard(const LifeGuard&) = delete;
    LifeGuard& operator=(const LifeGuard&) = delete;

    LifeToken token() const { return LifeToken(m_alive); }
    void end() noexcept { *m_alive = false; }

private:
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace halvik
