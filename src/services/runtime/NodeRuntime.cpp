#include "NodeRuntime.h"

#include "RuntimeFiles.h"

#include "platform/RuntimePlatform.h"

#include <QDir>

namespace halvik {

std::optional<NodeRuntime::Toolchain> NodeRuntime::toolchainIn(const QString& folder, NodeSource source)
{
    const QString node = folder + QStringLiteral("/node");
    const QString npm = folder + QStringLiteral("/npm");
    if (!RuntimeFiles::isExecutable(node) || !RuntimeFiles::isExecutable(npm))
        return std::nullopt;
    Toolchain toolchain{node, npm, std::nullopt, folder, source};
    if (RuntimeFiles::isExecutable(folder + QStringLiteral("/npx")))
        toolchain.npx = folder + QStringLiteral("/npx");
    return toolchain;
}

std::optional<NodeRuntime::Toolchain> NodeRuntime::newestVersionIn(const QString& versionsFolder,
                                                                   NodeSource source) const
{
    QStringList versions = QDir(versionsFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString& a, const QString& b) { return RuntimeFiles::compareVersions(a, b) > 0; });
    for (const QString& version : versions) {
        const QString bin = versionsFolder + QLatin1Char('/') + version + QStringLiteral("/bin");
        if (RuntimeFiles::isExecutable(bin + QStringLiteral("/node")))
            return toolchainIn(bin, source);
    }
    return std::nullopt;
}

QStringList NodeRuntime::lookupPath() const
{
    QStringList path{m_roots.managedNode() + QStringLiteral("/bin"),
                     RuntimePlatform::herdNodeVersions(m_roots.home) + QStringLiteral("/v22.14.0/bin"),
                     QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin")};
    const QString inherited =
        m_roots.inheritedPath.isEmpty() ? QStringLiteral("/usr/bin:/bin") : m_roots.inheritedPath;
    path << inherited.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return path;
}

std::optional<NodeRuntime::Toolchain> NodeRuntime::resolve() const
{
    if (auto herd = newestVersionIn(RuntimePlatform::herdNodeVersions(m_roots.home), NodeSource::herd))
        return herd;
    if (auto nvm = newestVersionIn(m_roots.home + QStringLiteral("/.nvm/versions/node"), NodeSource::nvm))
        return nvm;

    // What `which node` would find on the lookup PATH; Halvik's own copy is not taken here.
    const QString managedBin = QDir::cleanPath(m_roots.managedNode() + QStringLiteral("/bin"));
    for (const QString& folder : lookupPath()) {
        if (!RuntimeFiles::isExecutable(folder + QStringLiteral("/node")))
            continue;
        if (QDir::cleanPath(folder).startsWith(QDir::cleanPath(m_roots.managedNode())))
            continue;
        if (auto found = toolchainIn(folder, NodeSource::path))
            return found;
        break; // `which` stops at the first node
    }
    for (const QString& folder : {QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin")})
        if (RuntimeFiles::isExecutable(folder + QStringLiteral("/node")))
            if (auto found = toolchainIn(folder, NodeSource::path))
                return found;
    return toolchainIn(managedBin, NodeSource::managed);
}

QStringList NodeRuntime::pathEntries(const QStringList& entries) const
{
    const auto toolchain = resolve();
    if (!toolchain || entries.contains(toolchain->binDirectory))
        return entries;
    return QStringList{toolchain->binDirectory} + entries;
}

bool NodeRuntime::hasManagedNode() const
{
    return RuntimeFiles::isExecutable(m_roots.managedNode() + QStringLiteral("/bin/node"));
}

std::optional<QString> NodeRuntime::managedVersion() const
{
    return RuntimeFiles::readTrimmed(m_roots.managedNode() + QStringLiteral("/HALVIK_NODE_VERSION"));
}

} // namespace halvik
