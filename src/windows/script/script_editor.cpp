#include "windows/script/script_editor.h"

#include <QPainter>
#include <QTextBlock>

#include "windows/fixed_font.h"

namespace varnok {

// The margin left of the text; it paints what the editor tells it.
class LineNumberArea : public QWidget {
  public:
    explicit LineNumberArea(ScriptEditor* editor) : QWidget(editor), editor_(editor) {}
    QSize sizeHint() const override { return {editor_->numberAreaWidth(), 0}; }

  protected:
    void paintEvent(QPaintEvent* event) override { editor_->paintNumbers(event); }

  private:
    ScriptEditor* editor_;
};

ScriptEditor::ScriptEditor(QWidget* parent)
    : QPlainTextEdit(parent), numberArea_(new LineNumberArea(this)) {
    setFont(fixedFont(font().pointSize()));
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setTabStopDistance(4 * fontMetrics().horizontalAdvance(QLatin1Char(' ')));
    connect(this, &QPlainTextEdit::blockCountChanged, this,
            [this] { setViewportMargins(numberAreaWidth(), 0, 0, 0); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
        if (dy != 0)
            numberArea_->scroll(0, dy);
        else
            numberArea_->update(0, rect.y(), numberArea_->width(), rect.height());
    });
    setViewportMargins(numberAreaWidth(), 0, 0, 0);
}

int ScriptEditor::numberAreaWidth() const {
    const int digits = int(QString::number(std::max(1, blockCount())).size());
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(3, digits);
}

void ScriptEditor::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    const QRect inner = contentsRect();
    numberArea_->setGeometry(inner.left(), inner.top(), numberAreaWidth(), inner.height());
}

void ScriptEditor::paintNumbers(QPaintEvent* event) {
    QPainter painter(numberArea_);
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    while (block.isValid() && top <= event->rect().bottom()) {
        const int height = qRound(blockBoundingRect(block).height());
        if (block.isVisible() && top + height >= event->rect().top()) {
            const int number = block.blockNumber() + 1;
            painter.setPen(number == runningLine_ ? palette().color(QPalette::Text)
                                                  : palette().color(QPalette::PlaceholderText));
            painter.drawText(0, top, numberArea_->width() - 4, height, Qt::AlignRight,
                             QString::number(number));
        }
        top += height;
        block = block.next();
    }
}

void ScriptEditor::setRunningLine(int line) {
    if (line == runningLine_)
        return;
    runningLine_ = line;
    refreshShade();
    numberArea_->update();
}

void ScriptEditor::refreshShade() {
    QList<QTextEdit::ExtraSelection> shades;
    const QTextBlock block = document()->findBlockByNumber(runningLine_ - 1);
    if (runningLine_ > 0 && block.isValid()) {
        QTextEdit::ExtraSelection shade;
        shade.format.setBackground(QColor(255, 236, 150));
        shade.format.setProperty(QTextFormat::FullWidthSelection, true);
        shade.cursor = QTextCursor(block);
        shades << shade;
    }
    setExtraSelections(shades);
}

void ScriptEditor::selectLine(int line) {
    const QTextBlock block = document()->findBlockByNumber(line - 1);
    if (line <= 0 || !block.isValid())
        return;
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    centerCursor();
}

int ScriptEditor::cursorLine() const {
    return textCursor().blockNumber() + 1;
}

} // namespace varnok
