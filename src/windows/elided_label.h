#pragma once
// A one-line status text that never widens its window: it asks for room for its whole text but
// makes do with a few characters, and what does not fit ends in "…" with the whole text as its
// tooltip. text() is always the whole text.
#include <QLabel>

namespace varnok {

class ElidedLabel : public QLabel {
  public:
    explicit ElidedLabel(QWidget* parent = nullptr, Qt::TextElideMode mode = Qt::ElideRight);

    QSize minimumSizeHint() const override;
    // Whether the text is cut where it shows.
    bool elided() const;

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    Qt::TextElideMode mode_;
};

} // namespace varnok
