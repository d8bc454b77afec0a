#pragma once

#include <QString>

#include <memory>

namespace halvik {

// While an instance lives, asks the system not to idle-sleep. Best effort and never blocking:
// the request is asynchronous, and where the system offers no way (or refuses) it stays
// unheld. On Linux: logind's "idle" inhibitor, else the screen saver's over D-Bus.
class SleepInhibitor
{
public:
    explicit SleepInhibitor(const QString& reason);
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    bool isHeld() const;

    // One system's way of holding the request; released when destroyed.
    class Hold
    {
    public:
        virtual ~Hold() = default;
        virtual bool isHeld() const = 0;
    };

private:
    std::unique_ptr<Hold> m_hold;
};

} // namespace halvik
