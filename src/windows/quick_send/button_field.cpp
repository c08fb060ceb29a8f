#include "windows/quick_send/button_field.h"

#include <QPushButton>
#include <algorithm>

namespace varnok {

void ButtonField::setCount(int count) {
    count_ = count;
    for (auto it = made_.lower_bound(count); it != made_.end(); it = made_.erase(it))
        delete it->second;
    setMinimumHeight(rows() * (rowHeight() + kGap));
    for (auto& [i, b] : made_)
        dress(b, i);
    placeVisible();
}

QSize ButtonField::sizeHint() const {
    return {kColumns * 96, std::min(rows(), 3) * (rowHeight() + kGap)};
}

void ButtonField::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeVisible();
}

void ButtonField::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    placeVisible();
}

int ButtonField::rowHeight() const {
    static const int h = QPushButton(QStringLiteral("X")).sizeHint().height();
    return h;
}

void ButtonField::placeVisible() {
    const int h = rowHeight() + kGap;
    const int w = std::max(1, (width() - (kColumns - 1) * kGap) / kColumns);
    const int seen = parentWidget() ? parentWidget()->height() : height();
    const int first = std::max(0, -y() / h - kSpareRows);
    const int last = std::min(rows() - 1, (-y() + seen) / h + kSpareRows);
    for (auto it = made_.begin(); it != made_.end();) { // out of sight: gone
        const int row = it->first / kColumns;
        if (row >= first && row <= last) {
            ++it;
            continue;
        }
        delete it->second;
        it = made_.erase(it);
    }
    for (int i = first * kColumns; i < std::min(count_, (last + 1) * kColumns); ++i) {
        QPushButton*& b = made_[i];
        if (!b) {
            b = new QPushButton(this);
            b->setObjectName(QStringLiteral("Send_%1").arg(i));
            connect(b, &QPushButton::clicked, this, [this, i] { press(i); });
            dress(b, i);
            b->show();
        }
        b->setGeometry((i % kColumns) * (w + kGap), (i / kColumns) * h, w, h - kGap);
    }
}

} // namespace varnok
