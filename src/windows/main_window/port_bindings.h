#pragma once
// Port bindings (ComN=PATH) remembered between runs, per user, in the system's usual place
// for settings (~/.config/varnok-binary/varnok-binary.ini on Linux).

namespace varnok {

// Binds the remembered paths of numbers that have no binding yet (the command line wins).
void restorePortBindings();
// Remembers every binding chosen in the window; those of the command line are never written.
void rememberPortBindings();

} // namespace varnok
