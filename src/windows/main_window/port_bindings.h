#pragma once
// Port bindings (ComN=PATH) remembered between runs, per user, in the system's usual place
// for settings (~/.config/varnok-binary/varnok-binary.ini on Linux).

#include <QStringList>

namespace varnok {

// Binds the remembered paths of numbers that have no binding yet (the command line wins).
void restorePortBindings();
// Remembers every binding chosen in the window; those of the command line are never written.
void rememberPortBindings();

// Ports over the network bound before, the latest first (at most kRecentNetworkPorts).
inline constexpr int kRecentNetworkPorts = 10;
QStringList recentNetworkPorts();
// How long opening a network port waits for the server ("network/connectTimeoutMs" in the
// settings file; 3000 when unset, kept within 100-60000).
int networkConnectTimeoutMs();
void rememberNetworkPort(const QString& port);

} // namespace varnok
