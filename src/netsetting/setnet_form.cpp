#include "netsetting/setnet_form.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "main_window/form1.h"

namespace varnok {

SETNET_Form::SETNET_Form(Form1* main) : QWidget(nullptr), main_(main) {
    setObjectName(QStringLiteral("SETNET_Form"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("N500 Net Setting"));
    Form_Load();
}

SETNET_Form::~SETNET_Form() = default;

void SETNET_Form::Form_Load() {}
void SETNET_Form::Cmd_GET_Click() {}
void SETNET_Form::Cmd_SET_Click() {}
void SETNET_Form::Cmd_Default_Click() {}
void SETNET_Form::Cmd_Exit_Click() {}

void Form1::Cmd_SetNet_Click() {
    // Modeless with no owner; a second press only raises it.
    if (!setnet_)
        setnet_ = new SETNET_Form(this);
    setnet_->show();
    setnet_->raise();
    setnet_->activateWindow();
}

} // namespace varnok
