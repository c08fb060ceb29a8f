#include "windows/main_window/form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPortInfo>
#include <QTimer>

#include "windows/netsetting/setnet_form.h"
#include "logic/serial/port_map.h"
#include "version.h"

namespace varnok {

Form1::Form1(std::unique_ptr<serial::CommPort> port, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Form1"));
    if (!port)
        port = std::make_unique<serial::CommPort>();
    MSComm1 = port.release();
    MSComm1->setParent(this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));

    buildControls();

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command7, &QPushButton::clicked, this, &Form1::Command7_Click);
    connect(Command9, &QPushButton::clicked, this, &Form1::Command9_Click);
    connect(Chk_DTR, &QCheckBox::toggled, this, &Form1::Chk_DTR_Click);
    for (int i = 0; i < 3; ++i)
        connect(Opt_FlowControl[static_cast<size_t>(i)], &QRadioButton::clicked, this,
                [this, i] { Opt_FlowControl_Click(i); });
    connect(Chk_ConnDetect, &QCheckBox::toggled, this, &Form1::Chk_ConnDetect_Click);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);

    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command8, &QPushButton::clicked, this, &Form1::Command8_Click);
    connect(Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);
    connect(btn_Receive_Binary, &QPushButton::clicked, this, &Form1::btn_Receive_Binary_Click);
    connect(Chk_ReadEnLarge, &QCheckBox::toggled, this, &Form1::Chk_ReadEnLarge_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);

    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(SetASCII, &QPushButton::clicked, this, &Form1::SetASCII_Click);
    connect(SetBinary, &QPushButton::clicked, this, &Form1::SetBinary_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(Command10, &QPushButton::clicked, this, &Form1::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &Form1::Command11_Click);
    connect(Command12, &QPushButton::clicked, this, &Form1::Command12_Click);
    connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);

    connect(cmdSend, &QPushButton::clicked, this, &Form1::cmdSend_Click);
    connect(cmdClearSendReceive, &QPushButton::clicked, this, &Form1::cmdClearSendReceive_Click);
    connect(cboFunction, &QComboBox::currentIndexChanged, this, &Form1::cboFunction_Click);
    // Choosing the item already shown is a choice too: it brings its explanation back.
    connect(cboFunction, &QComboBox::activated, this, &Form1::cboFunction_Click);
    connect(cboFunction, &QComboBox::editTextChanged, this, &Form1::cboFunction_Change);
    // Leaving the text field would pick the item whose text it matches: only the list chooses.
    disconnect(cboFunction->lineEdit(), &QLineEdit::editingFinished, cboFunction, nullptr);

    connect(Cmd_SetNet, &QPushButton::clicked, this, &Form1::Cmd_SetNet_Click);

    // Arriving data and a vanished device wake the receive side; queued so that a pass never
    // runs inside a port call, and at most one wake-up waits at a time: under a flood the
    // port signals far more often than passes run, and a growing queue would starve timers.
    connect(MSComm1, &serial::CommPort::dataArrived, this, [this] {
        if (passPending_)
            return;
        passPending_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                passPending_ = false;
                scheduleReceivePass();
            },
            Qt::QueuedConnection);
    });
    connect(MSComm1, &serial::CommPort::deviceLost, this, &Form1::onDeviceLost,
            Qt::QueuedConnection);
    autoTick_ = new QTimer(this);
    autoTick_->setInterval(40);
    connect(autoTick_, &QTimer::timeout, this, &Form1::scheduleReceivePass);

    connect(Combo1, &QComboBox::currentIndexChanged, this, &Form1::refreshDeviceInfo);
    presenceTimer_ = new QTimer(this);
    presenceTimer_->setInterval(2000);
    connect(presenceTimer_, &QTimer::timeout, this, [this] {
        if (!Port_Opened)
            refreshDeviceInfo();
    });

    Form_Load();
    Timer1->start();
    Timer2->start();
    Timer3->start();
    presenceTimer_->start();
}

Form1::~Form1() = default;

SETNET_Form* Form1::netSettingForm() const {
    return setnet_;
}

void Form1::Form_Load() {
    Label3->setText(QStringLiteral("Local Breaking"));
    Port_Opened = false;
    Command7->setEnabled(false);
    Command7->setVisible(false);

    {
        const QSignalBlocker block(Combo1);
        Combo1->clear();
        for (int n = serial::kFirstPort; n <= serial::kLastPort; ++n)
            Combo1->addItem(QStringLiteral("Com%1").arg(n));
        Combo1->setCurrentIndex(0);
    }
    Combo2->clear();
    for (const char* baud : {"300", "600", "2400", "4800", "9600", "19200", "38400", "57600",
                             "115200", "230400", "460800", "921600"})
        Combo2->addItem(QString::fromLatin1(baud));
    Combo2->setCurrentIndex(8);

    clearDisplay();
    MSComm1->setInputLen(0);
    MSComm1->setInputMode(0);

    Rec_Data_Manual = false;
    Command2->setEnabled(false);
    Command8->setEnabled(false);

    Opt_FlowControl[0]->setChecked(true);
    Flow_Control = 0;

    Command5->setEnabled(false);
    Command11->setEnabled(false);
    Command12->setEnabled(false);
    Auto_Send = false;

    Timer1->setInterval(500);
    Timer2->setInterval(500);
    Timer3->setInterval(500);

    setWindowTitle(QStringLiteral("Varnok_Binary  v%1.%2.%3  ( KOVRAN )")
                       .arg(kVersionMajor)
                       .arg(kVersionMinor)
                       .arg(kVersionPatch));

    Option2->setChecked(true);
    Send_Data.clear();
    Text5->setText(QStringLiteral("1A"));

    MSComm1->setSThreshold(0);

    Frame1->setTitle(QStringLiteral("Varnok_RECV ( Auto-Recv )( ASCII Mode )"));
    Frame2->setTitle(QStringLiteral("Varnok_SEND ( ASCII Mode )"));

    Recive_Binary = false;
    Text1->setEnabled(true);
    Text2->setPlainText(QStringLiteral("KOVRAN"));

    Recv_Total_Base = 0;
    Recv_Show_Limit = 1024;
    Text3_Left = Text3->x();
    Text3_Top = Text3->y();
    Text3_Width = Text3->width();
    Text3_Height = Text3->height();
    Send_History = codec::SendHistory{};

    SetBinary->setEnabled(false);
    SetASCII->setEnabled(false);
    Cmd_SetNet->setEnabled(false);

    refreshDeviceInfo();
    Init_Modbus();
}

void Form1::closeEvent(QCloseEvent* event) {
    // Form_Unload: close the port if open, then end.
    if (MSComm1->portOpen())
        MSComm1->setPortOpen(false);
    Auto_Send = false;
    autoActive_ = false;
    autoTick_->stop();
    if (setnet_)
        setnet_->close();
    event->accept();
    QCoreApplication::exit(0);
}

void Form1::Command9_Click() {
    // END: at once, without the unload steps; the port closes as the program ends.
    if (setnet_)
        setnet_->hide();
    hide();
    QCoreApplication::exit(0);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == Text2) {
            if (key->key() == Qt::Key_Up)
                Text2_KeyDown(38);
            else if (key->key() == Qt::Key_Down)
                Text2_KeyDown(40);
        } else if (watched == txtString &&
                   (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            if (txtString_KeyPress(13) == 0)
                return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::refreshDeviceInfo() {
    // Present devices are marked in the list (bold, with their path as tip); texts stay "ComN".
    QFont bold = font();
    bold.setBold(true);
    for (int i = 0; i < Combo1->count(); ++i) {
        const QString path = QString::fromStdString(serial::devicePathFor(i + 1));
        const bool present = !path.isEmpty() && QFileInfo::exists(path);
        Combo1->setItemData(i, present ? QVariant(bold) : QVariant(), Qt::FontRole);
        Combo1->setItemData(i, path.isEmpty() ? QVariant() : QVariant(path), Qt::ToolTipRole);
    }
    const int number = Combo1->currentIndex() + 1;
    const QString path = QString::fromStdString(serial::devicePathFor(number));
    const bool present = !path.isEmpty() && QFileInfo::exists(path);
    // The adapter's description means a walk over the system's device tree: only look it up
    // when the chosen device or its presence changed.
    if (path != shownDevicePath_ || present != shownDevicePresent_) {
        shownDevicePath_ = path;
        shownDevicePresent_ = present;
        shownDeviceDescription_.clear();
        if (present)
            shownDeviceDescription_ = QSerialPortInfo(path).description();
    }
    QString text;
    if (path.isEmpty()) {
        text = tr("Com%1: no device mapped").arg(number);
    } else {
        text = QStringLiteral("%1 %2").arg(path, present ? tr("(present)") : tr("(not present)"));
        if (!shownDeviceDescription_.isEmpty())
            text += QStringLiteral(" ") + shownDeviceDescription_;
    }
    Lbl_Device->setText(text);
    Lbl_Device->setToolTip(text);
}

} // namespace varnok
