#pragma once
// The per-user store of what the program remembers between runs: port bindings, window
// places, Quick Send's entries, the capture's last form.
#include <QSettings>

namespace varnok {

QSettings userSettings();

} // namespace varnok
