#pragma once

#include "platform/SleepInhibitor.h"

#include <memory>

namespace halvik {

// logind's "idle" inhibitor on the system bus, else the screen saver's Inhibit on the session
// bus. A missing bus or service leaves it unheld.
class DBusSleepInhibitor : public SleepInhibitor::Hold
{
public:
    explicit DBusSleepInhibitor(const QString& reason);
    ~DBusSleepInhibitor() override;

    bool isHeld() const override;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace halvik
