#include "windows/user_settings.h"

namespace varnok {

QSettings userSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("varnok-binary"),
                     QStringLiteral("varnok-binary"));
}

QStringList rememberRecent(const QString& key, const QString& item, int max) {
    QSettings settings = userSettings();
    QStringList recent = settings.value(key).toStringList();
    recent.removeAll(item);
    recent.prepend(item);
    while (recent.size() > max)
        recent.removeLast();
    settings.setValue(key, recent);
    return recent;
}

} // namespace varnok
