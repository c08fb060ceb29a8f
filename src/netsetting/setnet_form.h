#pragma once
// The N500 network settings dialog: reads and writes address, mask and gateway through the
// device's serial console, borrowing the main window's port input while it is open.
#include <QWidget>
#include <array>

#include "netsetting/extract_tokens.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace varnok {

class Form1;

class SETNET_Form : public QWidget {
    Q_OBJECT
public:
    explicit SETNET_Form(Form1* main);
    ~SETNET_Form() override;

    QPushButton* Cmd_Default;
    QLabel *Label1, *Label2, *Label3;
    std::array<QLineEdit*, 4> IP{};
    std::array<QLineEdit*, 4> Mask{};
    std::array<QLineEdit*, 4> Gateway{};
    QPushButton *Cmd_GET, *Cmd_SET, *Cmd_Exit;

    QString SendStr;
    QString RecvStr;
    netsetting::TokenSlots NetData{};

    void Form_Load();
    void Cmd_GET_Click();
    void Cmd_SET_Click();
    void Cmd_Default_Click();
    void Cmd_Exit_Click();

private:
    Form1* main_;
};

} // namespace varnok
