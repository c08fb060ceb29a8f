// DTR, flow-control choice and the link monitor.
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>

#include "windows/main_window/form1.h"
#include "windows/main_window/message_box.h"

namespace varnok {

void Form1::Chk_DTR_Click() {
    MSComm1->setDTREnable(!Chk_DTR->isChecked());
}

void Form1::Opt_FlowControl_Click(int index) {
    Opt_FlowControl[static_cast<size_t>(index)]->setChecked(true);
    Flow_Control = static_cast<std::uint8_t>(index); // applied at the next open
}

void Form1::Chk_ConnDetect_Click() {
    // Recorded by the box itself; the link monitor runs either way.
}

void Form1::Timer1_Timer() {
    if (timer1MessageOpen_)
        return; // one failure message at a time
    try {
        if (MSComm1->cdHolding())
            Label3->setText(QStringLiteral("Connecting..."));
        else if (Port_Opened)
            Label3->setText(QStringLiteral("Opposite Breaking"));
        else
            Label3->setText(QStringLiteral("Local Breaking"));
    } catch (const Failure& e) {
        timer1MessageOpen_ = true;
        showMessage(this, QStringLiteral("%1; ErrMsg=%2")
                              .arg(e.number())
                              .arg(QString::fromStdString(e.description())));
        timer1MessageOpen_ = false;
    }
}

} // namespace varnok
