#pragma once

#include <QString>

#include <memory>

namespace halvik {

// Posts notifications to the desktop's notification centre. Quiet when the desktop has none.
class DesktopNotifier
{
public:
    virtual ~DesktopNotifier() = default;

    // The system's notifier; one that posts nothing where Halvik knows of none.
    static std::unique_ptr<DesktopNotifier> create();

    // Gets the notification centre ready ahead of the first post (asks for permission where
    // the system wants that). The answer is not awaited.
    virtual void prepare() = 0;
    virtual void post(const QString& title, const QString& body) = 0;
};

} // namespace halvik
