#include "windows/main_window/port_bindings.h"

#include <algorithm>

#include "logic/serial/port_map.h"
#include "windows/user_settings.h"

namespace varnok {

void restorePortBindings() {
    QSettings s = userSettings();
    s.beginGroup(QStringLiteral("ports"));
    for (const QString& key : s.childKeys()) {
        const auto b =
            serial::parsePortBinding((key + u'=' + s.value(key).toString()).toStdString());
        if (b && !serial::isPortBound(b->first))
            serial::bindPort(b->first, b->second);
    }
}

void rememberPortBindings() {
    QSettings s = userSettings();
    s.beginGroup(QStringLiteral("ports"));
    // A binding from the command line holds for its run only: what was remembered under that
    // number stays as it was.
    QList<std::pair<QString, QVariant>> kept;
    for (const QString& key : s.childKeys()) {
        const auto b = serial::parsePortBinding((key + QStringLiteral("=x")).toStdString());
        if (b && serial::isBoundForThisRun(b->first))
            kept.append({key, s.value(key)});
    }
    s.remove(QString());
    for (const auto& [key, value] : kept)
        s.setValue(key, value);
    for (const auto& [number, path] : serial::portBindings())
        if (!serial::isBoundForThisRun(number))
            s.setValue(QStringLiteral("Com%1").arg(number), QString::fromStdString(path));
}

int networkConnectTimeoutMs() {
    const int ms = userSettings().value(QStringLiteral("network/connectTimeoutMs"), 3000).toInt();
    return std::clamp(ms, 100, 60000);
}

QStringList recentNetworkPorts() {
    return userSettings().value(QStringLiteral("network/recent")).toStringList();
}

void rememberNetworkPort(const QString& port) {
    rememberRecent(QStringLiteral("network/recent"), port, kRecentNetworkPorts);
}

} // namespace varnok
