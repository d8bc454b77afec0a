#include "HeadlessSiteAppearances.h"

#include "AppearanceFiles.h"

#include "platform/AppDataDir.h"

#include <QDir>

namespace halvik {

HeadlessSiteAppearances::HeadlessSiteAppearances(QString root)
    : m_root(root.isEmpty() ? AppDataDir::directory() : std::move(root))
{
}

void HeadlessSiteAppearances::invalidate(const QUuid& site)
{
    QDir(appearance::AppearanceFiles(m_root, site).folder()).removeRecursively();
}

} // namespace halvik
