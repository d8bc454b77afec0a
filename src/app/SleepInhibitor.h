#pragma once

#include <QString>

#include <memory>

namespace halvik {

// While an instance lives, asks the desktop not to idle-sleep: logind's "idle" inhibitor on
// the system bus, else the screen saver's Inhibit on the session bus. Best effort and never
// blocking: the request is asynchronous and a missing bus or service leaves it unheld.
class SleepInhibitor
{
public:
    explicit SleepInhibitor(const QString& reason);
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    bool isHeld() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace halvik
