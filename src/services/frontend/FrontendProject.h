#pragma once

#include "gitcore/EnumTable.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace halvik {

// What a site's package.json and bundler configuration say about its frontend: which bundler it
// uses, which npm scripts serve and build it. Pure functions over the folder's files.
namespace FrontendProject {

enum class BundlerKind
{
    vite,
    webpack,
    unknown
};

struct Info
{
    BundlerKind bundler = BundlerKind::unknown;
    bool hasBuildScript = false;
    std::optional<QString> buildScriptName;
    std::optional<QString> devScriptName;
    bool nodeModulesPresent = false;

    bool operator==(const Info&) const = default;
};

// None when the folder has no readable package.json.
std::optional<Info> inspect(const QString& folder);
// The address written in <folder>/public/hot, when the file exists and holds one.
std::optional<QUrl> readHotFileURL(const QString& folder);
// The dev server's address in its output: the last line that announces it ("Local:",
// "running at", "listening on") and holds an http(s) address. Colour codes are ignored.
std::optional<QUrl> parseDevServerURL(const QString& output);
// The text without terminal colour and control sequences.
QString withoutTerminalCodes(const QString& text);

constexpr auto enumCases(std::type_identity<BundlerKind>)
{
    using K = BundlerKind;
    return std::to_array<EnumCase<K>>({{K::vite, "vite", "Vite"},
                                       {K::webpack, "webpack", "Laravel Mix"},
                                       {K::unknown, "unknown", "Unknown"}});
}

} // namespace FrontendProject

} // namespace halvik
