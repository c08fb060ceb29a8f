#pragma once
// A Quick Send tab that edits the session's book (kept by its keeper, run by its sender) and
// says when it did, for the window to hand the book on.
#include <QWidget>

#include "engine/quick_send_keeper.h"

namespace varnok {

class BookPage : public QWidget {
    Q_OBJECT
  public:
    BookPage(engine::QuickSendKeeper& keeper, engine::QuickSender& sender, QWidget* parent)
        : QWidget(parent), keeper_(keeper), sender_(sender), book_(keeper.book()) {}

  signals:
    void edited(); // the book changed here

  protected:
    engine::QuickSendKeeper& keeper_;
    engine::QuickSender& sender_;
    engine::QuickSendBook& book_; // the keeper's
    bool showing_ = false;        // the controls are being filled, not edited
};

} // namespace varnok
