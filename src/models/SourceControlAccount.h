#pragma once

#include "Enums.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace halvik {

// A connected source-control account; at most one per provider.
struct SourceControlAccount
{
    QString provider; // a SourceControlProvider raw value
    QString login;
    QDateTime connectedAt;

    std::optional<SourceControlProvider> providerKind() const
    {
        return fromRaw<SourceControlProvider>(provider);
    }
    bool operator==(const SourceControlAccount&) const = default;
};

} // namespace halvik
