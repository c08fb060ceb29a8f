#include "windows/elided_label.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>
#include <algorithm>

namespace varnok {

namespace {

int widestLine(const QFontMetrics& fm, const QString& text) {
    int widest = 0;
    for (const QStringView line : QStringView(text).split(u'\n'))
        widest = std::max(widest, fm.horizontalAdvance(line.toString()));
    return widest;
}

} // namespace

ElidedLabel::ElidedLabel(QWidget* parent, Qt::TextElideMode mode) : QLabel(parent), mode_(mode) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
}

QSize ElidedLabel::minimumSizeHint() const {
    // Height as the label has it; width for a few characters and the margins around them.
    const QSize whole = QLabel::minimumSizeHint();
    const int margins = whole.width() - widestLine(fontMetrics(), text());
    return {std::max(margins, 0) + fontMetrics().horizontalAdvance(QStringLiteral("MMM…")),
            whole.height()};
}

bool ElidedLabel::elided() const {
    const int room = contentsRect().width() - 2 * margin();
    return widestLine(fontMetrics(), text()) > std::max(room, 0);
}

bool ElidedLabel::event(QEvent* event) {
    // The whole text on hovering, only where it is cut; an own tooltip still comes first.
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty() && elided()) {
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text(), this);
        return true;
    }
    return QLabel::event(event);
}

void ElidedLabel::paintEvent(QPaintEvent* event) {
    if (!elided()) {
        QLabel::paintEvent(event); // keeps a selection where the text is selectable
        return;
    }
    QPainter painter(this);
    const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    // Each line is cut on its own: a status of several lines keeps its line breaks.
    QStringList shown;
    for (const QStringView line : QStringView(text()).split(u'\n'))
        shown << fontMetrics().elidedText(line.toString(), mode_, room.width());
    style()->drawItemText(&painter, room, int(alignment()), palette(), isEnabled(),
                          shown.join(u'\n'), foregroundRole());
}

} // namespace varnok
