#include "windows/user_settings.h"

namespace varnok {

QSettings userSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("varnok-binary"),
                     QStringLiteral("varnok-binary"));
}

} // namespace varnok
