#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

namespace halvik::gitcore {

enum class GitIdentityScope
{
    local,
    global
};
enum class GitFileInclusion
{
    included,
    remaining,
    mixed,
    conflicted
};
enum class GitDiffScope
{
    included,
    remaining,
    commit
};
enum class GitListTab
{
    changes,
    history
};
enum class GitBusyKind
{
    none,
    local,
    network
};
enum class GitDiffKind
{
    text,
    binary,
    image,
    empty,
    missing,
    tooLarge
};
enum class GitHunkAction
{
    include,
    exclude,
    discard
};

// Raw values of each enumeration, in declaration order. The raw value is the case name.
template <typename E> struct EnumRawNames;

#define HALVIK_GITCORE_RAW_NAMES(Enum, ...)                                                                  \
    template <> struct EnumRawNames<Enum>                                                                    \
    {                                                                                                        \
        static constexpr auto names = std::to_array<const char*>({__VA_ARGS__});                             \
    };

HALVIK_GITCORE_RAW_NAMES(GitIdentityScope, "local", "global")
HALVIK_GITCORE_RAW_NAMES(GitFileInclusion, "included", "remaining", "mixed", "conflicted")
HALVIK_GITCORE_RAW_NAMES(GitDiffScope, "included", "remaining", "commit")
HALVIK_GITCORE_RAW_NAMES(GitListTab, "changes", "history")
HALVIK_GITCORE_RAW_NAMES(GitBusyKind, "none", "local", "network")
HALVIK_GITCORE_RAW_NAMES(GitDiffKind, "text", "binary", "image", "empty", "missing", "tooLarge")
HALVIK_GITCORE_RAW_NAMES(GitHunkAction, "include", "exclude", "discard")

template <typename E> QString toRaw(E value)
{
    return QString::fromLatin1(EnumRawNames<E>::names[static_cast<std::size_t>(value)]);
}

template <typename E> std::optional<E> fromRaw(QStringView raw)
{
    const auto& names = EnumRawNames<E>::names;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (raw == QLatin1String(names[i]))
            return static_cast<E>(i);
    }
    return std::nullopt;
}

// Every case of an enumeration, in declaration order.
template <typename E> constexpr auto allCases()
{
    std::array<E, EnumRawNames<E>::names.size()> cases{};
    for (std::size_t i = 0; i < cases.size(); ++i)
        cases[i] = static_cast<E>(i);
    return cases;
}

QString title(GitDiffScope scope);
QString title(GitListTab tab);

// A diff scope is identified by its raw value.
inline QString id(GitDiffScope scope)
{
    return toRaw(scope);
}

} // namespace halvik::gitcore
