#pragma once
// Quick Send's "Auto-answer" page: the book's rules that answer a pattern with an entry,
// edited here and kept by the session's sender (which goes on answering with the window
// closed), with how often each fired.
#include <QWidget>

#include "engine/quick_send_keeper.h"

class QCheckBox;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace varnok {

class RulesPage : public QWidget {
    Q_OBJECT
  public:
    RulesPage(engine::QuickSendKeeper& keeper, engine::QuickSender& sender,
              QWidget* parent = nullptr);
    void showRules(); // from the book

    QCheckBox* rulesOnBox;
    QTableWidget* rulesTable; // on, kind, pattern, entry, delay ms, fired
    QSpinBox* answersBox;     // at most this many answers per second, per rule

  signals:
    void edited(); // the book changed here

  private:
    void lay(QPushButton* add, QPushButton* remove);
    void wire(QPushButton* add, QPushButton* remove);
    void rulesEdited();

    engine::QuickSendKeeper& keeper_;
    engine::QuickSender& sender_;
    engine::QuickSendBook& book_; // the keeper's
    bool showing_ = false;        // the controls are being filled, not edited
};

} // namespace varnok
