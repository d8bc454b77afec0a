#pragma once

#include "Enums.h"

#include <optional>

namespace halvik {

// The provider a Git remote URL points at; the same classification the Git library uses.
std::optional<SourceControlProvider> sourceControlProviderFromRemoteURL(const QString& remoteURL);

} // namespace halvik
