#pragma once
// The script's text with its line numbers in a margin, the line a running script stands at
// shaded, and a way to point at a line an error names.
#include <QPlainTextEdit>

namespace varnok {

class ScriptEditor : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit ScriptEditor(QWidget* parent = nullptr);

    // Shades line `line` (1-based) as the one running; 0 clears the shade.
    void setRunningLine(int line);
    int runningLine() const { return runningLine_; }
    // Selects the whole of line `line` (1-based) and scrolls to it; nothing for a line not there.
    void selectLine(int line);
    // The 1-based line the text cursor stands on.
    int cursorLine() const;

    int numberAreaWidth() const;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    friend class LineNumberArea;
    void paintNumbers(QPaintEvent* event);
    void refreshShade();

    QWidget* numberArea_;
    int runningLine_ = 0;
};

} // namespace varnok
