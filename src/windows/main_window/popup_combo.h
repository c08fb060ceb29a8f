#pragma once
// A combo box whose list is brought up to date only when the user opens it: the lists it
// shows (the devices present, which numbers lead to one) cost a walk over the system's
// devices, which the window must not pay for before it is needed.
#include <QComboBox>
#include <functional>

namespace varnok {

class PopupComboBox : public QComboBox {
  public:
    using QComboBox::QComboBox;
    std::function<void()> beforePopup;

    void showPopup() override {
        if (beforePopup)
            beforePopup();
        QComboBox::showPopup();
    }
};

} // namespace varnok
