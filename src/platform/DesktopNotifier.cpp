#include "DesktopNotifier.h"

#ifdef Q_OS_LINUX
#include "linux/FreedesktopNotifier.h"
#endif

namespace halvik {

namespace {

class SilentNotifier : public DesktopNotifier
{
public:
    void prepare() override {}
    void post(const QString&, const QString&) override {}
};

} // namespace

std::unique_ptr<DesktopNotifier> DesktopNotifier::create()
{
#ifdef Q_OS_LINUX
    return std::make_unique<FreedesktopNotifier>();
#else
    return std::make_unique<SilentNotifier>();
#endif
}

} // namespace halvik
