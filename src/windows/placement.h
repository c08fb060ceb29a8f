#pragma once
// Where a window of the terminal opens: where the user left it in an earlier run, else beside
// the main window, within the screen's available area.
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

namespace varnok {

// The rule for where a window first opens: the frame's top left and the inner size of a window
// between `least` and `preferred` in size, beside a main window whose frame is `main` (null:
// none, the screen's top left), on a screen whose available area is `avail`; `frame` is what
// the window manager's frame adds to a window. Beside the main window on the side with more
// room wherever its least width fits, narrowed to that room; else under or over it wherever
// its least height fits; else as narrow as its layout allows against the screen's edge on the
// side with more room, covering as little of the main window as it can. Always within `avail`
// when it fits there at all.
QRect besideRect(const QRect& avail, const QRect& main, QSize frame, QSize preferred, QSize least);

// Places `window` by that rule, at most `preferred` in size and never smaller than its layout
// allows.
void placeBeside(QWidget& window, const QWidget* main, QSize preferred);

// Shows `window` in front. The first time (`placed` false), it takes the place remembered
// under `key`, or one beside `main` when none was remembered or it no longer fits a screen.
void showPlaced(QWidget& window, bool& placed, const QString& key, const QWidget* main,
                QSize preferred);
// Remembers where a window that was placed is, for the next run.
void rememberPlace(const QWidget& window, bool placed, const QString& key);

} // namespace varnok
