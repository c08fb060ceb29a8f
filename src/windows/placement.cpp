#include "windows/placement.h"

#include "windows/user_settings.h"

#include <QLayout>
#include <QRect>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace varnok {

QRect besideRect(const QRect& avail, const QRect& main, QSize frame, QSize preferred, QSize least) {
    QSize size = preferred.expandedTo(least).boundedTo(avail.size() - frame);
    if (main.isNull())
        return {avail.topLeft(), size};
    // The room on each side of the main window, less the window's own frame.
    const int right = avail.right() - main.right() - frame.width();
    const int left = main.left() - avail.left() - frame.width();
    const int below = avail.bottom() - main.bottom() - frame.height();
    const int above = main.top() - avail.top() - frame.height();
    const auto clampTo = [](int v, int low, int high) {
        return std::clamp(v, low, std::max(low, high));
    };
    const int lowestY = avail.bottom() + 1 - size.height() - frame.height();
    const int rightmostX = avail.right() + 1 - size.width() - frame.width();
    // Beside it wherever the layout fits: on the side with more room, narrowed to that room.
    if (std::max(right, left) >= least.width()) {
        size.setWidth(std::min(size.width(), std::max(right, left)));
        const int x = right >= left ? main.right() + 1 : main.left() - size.width() - frame.width();
        return {QPoint(x, clampTo(main.top(), avail.top(), lowestY)), size};
    }
    // Else under or over it, made no taller than the room there.
    if (std::max(below, above) >= least.height()) {
        size.setHeight(std::min(size.height(), std::max(below, above)));
        const int y =
            below >= above ? main.bottom() + 1 : main.top() - size.height() - frame.height();
        return {QPoint(clampTo(main.left(), avail.left(), rightmostX), y), size};
    }
    // No room anywhere: as narrow as its layout allows, against the screen's edge on the side
    // with more room, so that it covers as little of the main window as it can.
    size.setWidth(std::min(least.width(), size.width()));
    const int x = right >= left ? avail.right() + 1 - size.width() - frame.width() : avail.left();
    return {QPoint(x, clampTo(main.top(), avail.top(), lowestY)), size};
}

void placeBeside(QWidget& window, const QWidget* main, QSize preferred) {
    const QScreen* screen = main ? main->screen() : window.screen();
    const QSize frame = main ? main->frameGeometry().size() - main->size() : QSize(0, 0);
    // The least size its layout allows once its content and style are in place.
    window.ensurePolished();
    if (window.layout())
        window.layout()->activate();
    const QSize least = window.minimumSizeHint().expandedTo(window.minimumSize());
    const QRect r = besideRect(screen->availableGeometry(), main ? main->frameGeometry() : QRect(),
                               frame, preferred, least);
    window.resize(r.size());
    window.move(r.topLeft());
}

void showPlaced(QWidget& window, bool& placed, const QString& key, const QWidget* main,
                QSize preferred) {
    if (!placed) {
        placed = true;
        const QByteArray saved = userSettings().value(key).toByteArray();
        if (saved.isEmpty() || !window.restoreGeometry(saved))
            placeBeside(window, main, preferred);
        // A window that grows as it is first laid out is brought back within the screen.
        QTimer::singleShot(0, &window, [&window] {
            const QRect avail = window.screen()->availableGeometry();
            const QRect f = window.frameGeometry();
            const QPoint at(std::clamp(f.x(), avail.left(),
                                       std::max(avail.left(), avail.right() + 1 - f.width())),
                            std::clamp(f.y(), avail.top(),
                                       std::max(avail.top(), avail.bottom() + 1 - f.height())));
            if (at != f.topLeft())
                window.move(at);
        });
    }
    window.show();
    window.raise();
    window.activateWindow();
}

void rememberPlace(const QWidget& window, bool placed, const QString& key) {
    if (placed)
        userSettings().setValue(key, window.saveGeometry());
}

} // namespace varnok
