#include "windows/main_window/port_bindings.h"

#include <QSettings>

#include "logic/serial/port_map.h"

namespace varnok {

namespace {

QSettings store() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("varnok-binary"),
                     QStringLiteral("varnok-binary"));
}

} // namespace

void restorePortBindings() {
    QSettings s = store();
    s.beginGroup(QStringLiteral("ports"));
    for (const QString& key : s.childKeys()) {
        const auto b =
            serial::parsePortBinding((key + u'=' + s.value(key).toString()).toStdString());
        if (b && !serial::isPortBound(b->first))
            serial::bindPort(b->first, b->second);
    }
}

void rememberPortBindings() {
    QSettings s = store();
    s.remove(QStringLiteral("ports"));
    s.beginGroup(QStringLiteral("ports"));
    for (const auto& [number, path] : serial::portBindings())
        s.setValue(QStringLiteral("Com%1").arg(number), QString::fromStdString(path));
}

} // namespace varnok
