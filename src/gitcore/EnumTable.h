#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cstddef>
#include <optional>
#include <type_traits>
#include <utility>

namespace halvik {

// One row of an enumeration's table. The raw value is what store.json, the settings and
// `--json` output hold, so it never changes once released. The title is what people read;
// enumerations that are never shown leave it out.
template <typename E> struct EnumCase
{
    E value;
    const char* raw;
    const char* title = nullptr;
};

// An enumeration takes part by declaring, beside itself (found through its namespace or its
// enclosing class), its table in declaration order:
//
//     constexpr auto enumCases(std::type_identity<Fruit>)
//     {
//         return std::to_array<EnumCase<Fruit>>({{Fruit::apple, "apple", "Apple"}, ...});
//     }
template <typename E>
concept TabledEnum = requires
{
    enumCases(std::type_identity<E>{});
};

namespace detail {

template <TabledEnum E> consteval bool everyCaseHasATitle()
{
    for (const auto& row : enumCases(std::type_identity<E>{}))
        if (row.title == nullptr)
            return false;
    return true;
}

} // namespace detail

template <TabledEnum E> QString toRaw(E value)
{
    for (const auto& row : enumCases(std::type_identity<E>{}))
        if (row.value == value)
            return QString::fromLatin1(row.raw);
    return {};
}

// Nothing for a raw value no case has (a newer or a damaged file).
template <TabledEnum E> std::optional<E> fromRaw(QStringView raw)
{
    for (const auto& row : enumCases(std::type_identity<E>{}))
        if (raw == QLatin1String(row.raw))
            return row.value;
    return std::nullopt;
}

template <TabledEnum E> QString title(E value)
{
    static_assert(detail::everyCaseHasATitle<E>(), "this enumeration is not shown: its table has no titles");
    for (const auto& row : enumCases(std::type_identity<E>{}))
        if (row.value == value)
            return QString::fromUtf8(row.title);
    return {};
}

namespace detail {

template <typename E, std::size_t... I> constexpr auto valuesOf(std::index_sequence<I...>)
{
    constexpr auto table = enumCases(std::type_identity<E>{});
    return std::array<E, sizeof...(I)>{table[I].value...};
}

} // namespace detail

// Every case, in declaration order (the order of pickers and lists).
template <TabledEnum E> constexpr auto allCases()
{
    return detail::valuesOf<E>(std::make_index_sequence<enumCases(std::type_identity<E>{}).size()>());
}

namespace gitcore {
using halvik::allCases;
using halvik::EnumCase;
using halvik::fromRaw;
using halvik::title;
using halvik::toRaw;
} // namespace gitcore

} // namespace halvik
