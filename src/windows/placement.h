#pragma once
// Where a window of the terminal first opens: beside the main window, within the screen's
// available area.
#include <QSize>

class QWidget;

namespace varnok {

// At most `preferred` in size, on the side of `main` with more room when at least
// `leastWidth` (and the layout's least width) fits there, narrowed to that room; else at the
// screen's right edge over the main window. Never past the screen's bottom. Without `main`, at the
// screen's top left.
void placeBeside(QWidget& window, const QWidget* main, QSize preferred, int leastWidth);

} // namespace varnok
