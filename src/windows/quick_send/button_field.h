#pragma once
// The send buttons, six to a row, made only for the rows in sight: ten thousand buttons in a
// grid layout took half a minute to show, and painting one walked all its siblings.
#include <QWidget>
#include <functional>
#include <map>

class QPushButton;

namespace varnok {

class ButtonField : public QWidget {
  public:
    static constexpr int kColumns = 6;
    static constexpr int kGap = 4;
    static constexpr int kSpareRows = 4; // made beyond the edges, for a smooth scroll
    using QWidget::QWidget;
    std::function<void(QPushButton*, int)> dress; // text and state of the button of entry i
    std::function<void(int)> press;

    // The buttons in sight change their text; the rest are made when scrolled to.
    void setCount(int count);

  protected:
    QSize sizeHint() const override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override; // scrolled

  private:
    int rows() const { return (count_ + kColumns - 1) / kColumns; }
    int rowHeight() const;
    void placeVisible();

    int count_ = 0;
    std::map<int, QPushButton*> made_;
};

} // namespace varnok
