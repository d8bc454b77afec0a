#pragma once

#include <QtGlobal>

#include <optional>

namespace halvik {

// Whether any process listens on a TCP port, on any address, without asking every process
// what it holds open (which is what naming the listener costs). Empty where the system does
// not say (it is read from /proc/net on Linux).
std::optional<bool> isTcpPortListened(quint16 port);

} // namespace halvik
