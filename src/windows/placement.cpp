#include "windows/placement.h"

#include "windows/user_settings.h"

#include <QRect>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace varnok {

void placeBeside(QWidget& window, const QWidget* main, QSize preferred, int leastWidth) {
    const QScreen* screen = main ? main->screen() : window.screen();
    const QRect avail = screen->availableGeometry();
    const QRect beside = main ? main->frameGeometry() : QRect(avail.topLeft(), QSize());
    // The window manager's frame, as the main window has it, must fit as well.
    const QSize frame = main ? main->frameGeometry().size() - main->size() : QSize();
    const int right = avail.right() - beside.right() - frame.width();
    const int left = beside.left() - avail.left() - frame.width();
    // Never narrower than its layout allows: that would only push it past the screen.
    const QSize least = window.minimumSizeHint().expandedTo(window.minimumSize());
    QSize size = preferred.expandedTo(least).boundedTo(avail.size() - frame);
    // No room beside: at the screen's right edge, over the terminal.
    int x = avail.right() + 1 - size.width() - frame.width();
    if (std::max(right, left) >= std::max(std::min(size.width(), leastWidth), least.width())) {
        size.setWidth(std::min(size.width(), std::max(right, left)));
        x = right >= left ? beside.right() + 1 : beside.left() - size.width() - frame.width();
    }
    const int y =
        std::clamp(beside.top(), avail.top(),
                   std::max(avail.top(), avail.bottom() + 1 - size.height() - frame.height()));
    window.resize(size);
    window.move(x, y);
}

void showPlaced(QWidget& window, bool& placed, const QString& key, const QWidget* main,
                QSize preferred, int leastWidth) {
    if (!placed) {
        placed = true;
        const QByteArray saved = userSettings().value(key).toByteArray();
        if (saved.isEmpty() || !window.restoreGeometry(saved))
            placeBeside(window, main, preferred, leastWidth);
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
