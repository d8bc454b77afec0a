#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <utility>

namespace halvik {

// Persisted enumerations are stored as their raw value, which equals the case name. The
// declaration order is also the order in pickers.

enum class PHPSource { automatic, managed, herd };
enum class HostProviderKind { forge, laravelCloud, netlify, cloudflarePages };
enum class SourceControlProvider { github, gitlab, bitbucket, origin };
enum class OperationKind { createProject, composer, artisan, keffin, shell, git, deploy, serve, selfUpdate };

namespace detail {
template <typename E, std::size_t N>
struct RawNames
{
    std::array<const char*, N> names;

    QString toRaw(E value) const { return QString::fromLatin1(names[static_cast<std::size_t>(value)]); }
    std::optional<E> fromRaw(const QString& raw) const
    {
        for (std::size_t i = 0; i < N; ++i)
            if (raw == QLatin1String(names[i]))
                return static_cast<E>(i);
        return std::nullopt;
    }
    QList<E> all() const
    {
        QList<E> out;
        for (std::size_t i = 0; i < N; ++i)
            out.append(static_cast<E>(i));
        return out;
    }
};
} // namespace detail

inline constexpr detail::RawNames<PHPSource, 3> kPHPSourceNames{{"automatic", "managed", "herd"}};
inline constexpr detail::RawNames<HostProviderKind, 4> kHostProviderNames{
    {"forge", "laravelCloud", "netlify", "cloudflarePages"}};
inline constexpr detail::RawNames<SourceControlProvider, 4> kSourceControlNames{
    {"github", "gitlab", "bitbucket", "origin"}};
inline constexpr detail::RawNames<OperationKind, 9> kOperationKindNames{
    {"createProject", "composer", "artisan", "keffin", "shell", "git", "deploy", "serve", "selfUpdate"}};

inline QString toRaw(PHPSource v) { return kPHPSourceNames.toRaw(v); }
inline QString toRaw(HostProviderKind v) { return kHostProviderNames.toRaw(v); }
inline QString toRaw(SourceControlProvider v) { return kSourceControlNames.toRaw(v); }
inline QString toRaw(OperationKind v) { return kOperationKindNames.toRaw(v); }

template <typename E>
std::optional<E> fromRaw(const QString& raw);
template <>
inline std::optional<PHPSource> fromRaw<PHPSource>(const QString& raw) { return kPHPSourceNames.fromRaw(raw); }
template <>
inline std::optional<HostProviderKind> fromRaw<HostProviderKind>(const QString& raw)
{
    return kHostProviderNames.fromRaw(raw);
}
template <>
inline std::optional<SourceControlProvider> fromRaw<SourceControlProvider>(const QString& raw)
{
    return kSourceControlNames.fromRaw(raw);
}
template <>
inline std::optional<OperationKind> fromRaw<OperationKind>(const QString& raw)
{
    return kOperationKindNames.fromRaw(raw);
}

// The secret-store key of a connected source-control account.
inline QString secretAccount(SourceControlProvider provider)
{
    return QStringLiteral("sourceControl.") + toRaw(provider);
}

} // namespace halvik
