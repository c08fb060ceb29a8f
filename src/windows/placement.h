#pragma once
// Where a window of the terminal opens: where the user left it in an earlier run, else beside
// the main window, within the screen's available area.
#include <QSize>
#include <QString>

class QWidget;

namespace varnok {

// At most `preferred` in size, on the side of `main` with more room when at least
// `leastWidth` (and the layout's least width) fits there, narrowed to that room; else at the
// screen's right edge over the main window. Never past the screen's bottom. Without `main`, at the
// screen's top left.
void placeBeside(QWidget& window, const QWidget* main, QSize preferred, int leastWidth);

// Shows `window` in front. The first time (`placed` false), it takes the place remembered
// under `key`, or one beside `main` when none was remembered or it no longer fits a screen.
void showPlaced(QWidget& window, bool& placed, const QString& key, const QWidget* main,
                QSize preferred, int leastWidth);
// Remembers where a window that was placed is, for the next run.
void rememberPlace(const QWidget& window, bool placed, const QString& key);

} // namespace varnok
