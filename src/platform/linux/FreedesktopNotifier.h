#pragma once

#include "platform/DesktopNotifier.h"

namespace halvik {

// The freedesktop Notifications service on the session bus. Quiet when there is no session
// bus or no notification server.
class FreedesktopNotifier : public DesktopNotifier
{
public:
    void prepare() override;
    void post(const QString& title, const QString& body) override;
};

} // namespace halvik
