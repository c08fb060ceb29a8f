#pragma once
// The fixed-pitch face for hexadecimal bytes and frame layouts, which line up only in one.
#include <QFont>
#include <QStringList>

namespace varnok {

inline QFont fixedFont(int pointSize) {
    QFont f;
    // The platform's "fixed" font is not always fixed-pitch (offscreen it may be any face).
    f.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
                   QStringLiteral("Noto Sans Mono"), QStringLiteral("Courier New"),
                   QStringLiteral("monospace")});
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setPointSize(pointSize);
    return f;
}

} // namespace varnok
