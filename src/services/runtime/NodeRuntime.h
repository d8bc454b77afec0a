#pragma once

#include "RuntimeRoots.h"

#include "gitcore/EnumTable.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace halvik {

enum class NodeSource
{
    herd,
    nvm,
    path,
    managed
};

constexpr auto enumCases(std::type_identity<NodeSource>)
{
    return std::to_array<EnumCase<NodeSource>>({{NodeSource::herd, "herd", "Herd"},
                                                {NodeSource::nvm, "nvm", "nvm"},
                                                {NodeSource::path, "path", "The system"},
                                                {NodeSource::managed, "managed", "Halvik"}});
}

// Finds a Node toolchain: Herd's, nvm's, one on PATH, then Halvik's own copy.
class NodeRuntime
{
public:
    struct Toolchain
    {
        QString node;
        QString npm;
        std::optional<QString> npx;
        QString binDirectory;
        NodeSource source = NodeSource::path;

        bool operator==(const Toolchain&) const = default;
    };

    explicit NodeRuntime(RuntimeRoots roots) : m_roots(std::move(roots)) {}

    // The first hit wins; a folder counts only when both node and npm in it are executable.
    std::optional<Toolchain> resolve() const;
    // The toolchain's folder in front of `entries` unless it is already among them.
    QStringList pathEntries(const QStringList& entries) const;
    bool hasManagedNode() const;
    std::optional<QString> managedVersion() const;

    // The PATH the `node` lookup searches, in order.
    QStringList lookupPath() const;

private:
    std::optional<Toolchain> newestVersionIn(const QString& versionsFolder, NodeSource source) const;
    static std::optional<Toolchain> toolchainIn(const QString& folder, NodeSource source);

    RuntimeRoots m_roots;
};

} // namespace halvik
