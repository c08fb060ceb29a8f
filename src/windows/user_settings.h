#pragma once
// The per-user store of what the program remembers between runs: port bindings, window
// places, Quick Send's entries, the capture's last form.
#include <QSettings>
#include <QString>
#include <QStringList>

namespace varnok {

QSettings userSettings();

// A list of recent choices kept under `key`, the latest first, at most `max`: `item` moves
// to the front (once) and the list is stored again.
QStringList rememberRecent(const QString& key, const QString& item, int max);

} // namespace varnok
