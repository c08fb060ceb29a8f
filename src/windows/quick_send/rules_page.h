#pragma once
// Quick Send's "Auto-answer" page: the book's rules that answer a pattern with an entry,
// edited here and kept by the session's sender (which goes on answering with the window
// closed), with how often each fired.
#include "windows/quick_send/book_page.h"

class QCheckBox;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace varnok {

class RulesPage : public BookPage {
    Q_OBJECT
  public:
    RulesPage(engine::QuickSendKeeper& keeper, engine::QuickSender& sender,
              QWidget* parent = nullptr);
    void showRules(); // from the book

    QCheckBox* rulesOnBox;
    QTableWidget* rulesTable; // on, kind, pattern, entry, delay ms, fired
    QSpinBox* answersBox;     // at most this many answers per second, per rule

  private:
    void lay(QPushButton* add, QPushButton* remove);
    void wire(QPushButton* add, QPushButton* remove);
    void rulesEdited();
};

} // namespace varnok
