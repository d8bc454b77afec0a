#include "FolderWatcher.h"

#include "PortableFolderWatcher.h"

#ifdef Q_OS_LINUX
#include "linux/InotifyFolderWatcher.h"
#endif

namespace halvik {

std::unique_ptr<FolderWatcher> FolderWatcher::create(Kind kind)
{
#ifdef Q_OS_LINUX
    if (kind == Kind::native)
        return std::make_unique<InotifyFolderWatcher>();
#endif
    return std::make_unique<PortableFolderWatcher>();
}

} // namespace halvik
