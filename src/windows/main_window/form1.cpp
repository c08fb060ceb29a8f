#include "windows/main_window/form1.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGroupBox>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPortInfo>
#include <QTextCursor>
#include <QTime>
#include <QTimer>

#include "logic/serial/port_map.h"
#include "version.h"
#include "windows/fixed_font.h"
#include "windows/main_window/message_box.h"
#include "windows/main_window/port_bindings.h"
#include "windows/monitor/monitor_window.h"
#include "windows/netsetting/setnet_form.h"
#include "windows/quick_send/quick_send_window.h"

namespace varnok {

Form1::Form1(std::unique_ptr<serial::CommPort> port, QWidget* parent)
    : QWidget(parent), engine_(std::make_unique<engine::TerminalEngine>(std::move(port))) {
    setObjectName(QStringLiteral("Form1"));
    recorder_ = new TrafficRecorder(engine_.get(), this); // records with or without its window
    buildControls();
    Timer2 = engine_->autoSendTimer();

    // "Close COM" appears where "Open COM" was (and back): the second click of a double-click
    // would undo the first at once, so a click that soon after the swap is ignored.
    connect(Command1, &QPushButton::clicked, this, [this] {
        if (!justSwapped())
            Command1_Click();
    });
    connect(Command7, &QPushButton::clicked, this, [this] {
        if (!justSwapped())
            Command7_Click();
    });
    connect(Command9, &QPushButton::clicked, this, &Form1::Command9_Click);
    connect(Chk_DTR, &QCheckBox::toggled, this, &Form1::Chk_DTR_Click);
    // The three are one choice of their own, not part of the window's other option buttons.
    flowGroup_ = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        flowGroup_->addButton(Opt_FlowControl[static_cast<size_t>(i)], i);
        connect(Opt_FlowControl[static_cast<size_t>(i)], &QRadioButton::clicked, this,
                [this, i] { Opt_FlowControl_Click(i); });
    }
    connect(Chk_ConnDetect, &QCheckBox::toggled, this, &Form1::Chk_ConnDetect_Click);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);

    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command8, &QPushButton::clicked, this, &Form1::Command8_Click);
    connect(Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);
    connect(btn_Receive_Binary, &QPushButton::clicked, this, &Form1::btn_Receive_Binary_Click);
    connect(Chk_ReadEnLarge, &QCheckBox::toggled, this, &Form1::Chk_ReadEnLarge_Click);
    connect(chk_RecvShowData, &QCheckBox::toggled, engine_.get(),
            &engine::TerminalEngine::setShowData);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);

    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(SetASCII, &QPushButton::clicked, this, &Form1::SetASCII_Click);
    connect(SetBinary, &QPushButton::clicked, this, &Form1::SetBinary_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(Command10, &QPushButton::clicked, this, &Form1::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &Form1::Command11_Click);
    connect(Command12, &QPushButton::clicked, this, &Form1::Command12_Click);
    connect(txt_TotalSendLen, &QLineEdit::textEdited, engine_.get(),
            &engine::TerminalEngine::setSendTotalText);

    connect(cmdSend, &QPushButton::clicked, this, &Form1::cmdSend_Click);
    connect(cmdClearSendReceive, &QPushButton::clicked, this, &Form1::cmdClearSendReceive_Click);
    connect(cboFunction, &QComboBox::currentIndexChanged, this, &Form1::cboFunction_Click);
    // Choosing the item already shown is a choice too: it brings its explanation back.
    connect(cboFunction, &QComboBox::activated, this, &Form1::cboFunction_Click);
    connect(cboFunction, &QComboBox::editTextChanged, this, &Form1::cboFunction_Change);
    // Leaving the text field would pick the item whose text it matches: only the list chooses.
    disconnect(cboFunction->lineEdit(), &QLineEdit::editingFinished, cboFunction, nullptr);

    connect(Cmd_SetNet, &QPushButton::clicked, this, &Form1::Cmd_SetNet_Click);
    connect(Cmd_Monitor, &QPushButton::clicked, this, &Form1::Cmd_Monitor_Click);
    connect(Cmd_QuickSend, &QPushButton::clicked, this, &Form1::Cmd_QuickSend_Click);
    connectEngine();

    connect(Combo1, &QComboBox::currentIndexChanged, this, [this] {
        reopenedText_.clear();
        refreshDeviceInfo();
    });
    connect(Cbo_Device, &QComboBox::activated, this,
            [this](int index) { bindDevice(Cbo_Device->itemData(index).toString()); });
    connect(Cbo_Device->lineEdit(), &QLineEdit::editingFinished, this,
            [this] { bindDevice(Cbo_Device->currentText()); });
    connect(Chk_Reopen, &QCheckBox::toggled, engine_.get(), &engine::TerminalEngine::setReopen);
    connect(engine_.get(), &engine::TerminalEngine::reopened, this, [this] {
        reopenedText_ = tr("reopened at %1").arg(QTime::currentTime().toString(u"HH:mm:ss"));
        refreshDeviceInfo();
    });
    // Bindings of earlier runs, under those given on the command line.
    restorePortBindings();
    rememberPortBindings();
    presenceTimer_ = new QTimer(this);
    presenceTimer_->setInterval(2000);
    connect(presenceTimer_, &QTimer::timeout, this, [this] {
        if (!engine_->isOpen())
            refreshDeviceInfo();
    });
    // The list of devices present is a walk over the system's device tree: it is made again
    // only when the system says a device folder changed, a moment after the change settles.
    auto* devicesChanged = new QTimer(this);
    devicesChanged->setSingleShot(true);
    devicesChanged->setInterval(300);
    auto* devices = new QFileSystemWatcher(this);
    const auto watchDevices = [devices] {
        for (const char* dir : {"/dev", "/dev/serial/by-id"})
            if (QFileInfo(QString::fromLatin1(dir)).isDir() &&
                !devices->directories().contains(QString::fromLatin1(dir)))
                devices->addPath(QString::fromLatin1(dir));
    };
    watchDevices();
    connect(devices, &QFileSystemWatcher::directoryChanged, devicesChanged,
            qOverload<>(&QTimer::start));
    connect(devicesChanged, &QTimer::timeout, this, [this, watchDevices] {
        watchDevices();
        refreshDeviceList();
        refreshDeviceInfo();
    });

    Form_Load();
    Timer1->start();
    Timer3->start();
    presenceTimer_->start();
}

void Form1::connectEngine() {
    using E = engine::TerminalEngine;
    E* e = engine_.get();
    connect(e, &E::message, this, [this](const QString& text) { showMessage(this, text); });
    connect(e, &E::portOpenChanged, this, &Form1::showPortOpen);
    connect(e, &E::receiveModeChanged, this, &Form1::showReceiveMode);
    connect(e, &E::sendModeChanged, this, &Form1::showSendMode);
    connect(e, &E::autoSendChanged, this, &Form1::showAutoSend);
    connect(e, &E::autoSendDue, this, &Form1::Timer2_Timer);
    connect(e, &E::displayAppended, this, &Form1::showAppended);
    connect(e, &E::displayReplaced, this, &Form1::showDisplay);
    connect(e, &E::displayCleared, this, [this] { showDisplay(QString()); });
    connect(e, &E::receiveCountersChanged, this, [this](std::int32_t length, std::int32_t total) {
        Recv_Length->setText(QString::number(length));
        txt_TotalRecvLen->setText(QString::number(total));
    });
    connect(e, &E::sendCountersChanged, this, [this](std::int32_t shown, std::int32_t total) {
        SendStrNum->setText(QString::number(shown));
        txt_TotalSendLen->setText(QString::number(total));
    });
    connect(e, &E::modemLinesChanged, this, &Form1::showModemLines);
    connect(e, &E::linkStateChanged, Label3, &QLabel::setText);
}

Form1::~Form1() = default;

void Form1::Cmd_SetNet_Click() {
    // Modeless with no owner; while it is loaded a second press only raises it.
    if (!setnet_ || !setnet_->isLoaded())
        setnet_ = new SETNET_Form(engine_.get(), this);
    setnet_->show();
    setnet_->raise();
    setnet_->activateWindow();
}

void Form1::Cmd_Monitor_Click() {
    // One monitor window over the recorder; closing it only hides it.
    if (!monitor_) {
        monitor_ = new MonitorWindow(recorder_);
        connect(this, &QObject::destroyed, monitor_.data(), &QObject::deleteLater);
    }
    monitor_->showBeside(this);
}

MonitorWindow* Form1::monitor() const {
    return monitor_;
}

void Form1::Cmd_QuickSend_Click() {
    // One Quick Send window; closing it ends its repeats, sequence, answers and file.
    if (!quickSend_) {
        quickSend_ = new QuickSendWindow(engine_.get());
        quickSend_->setAttribute(Qt::WA_DeleteOnClose);
        connect(this, &QObject::destroyed, quickSend_.data(), &QObject::deleteLater);
    }
    quickSend_->show();
    quickSend_->raise();
    quickSend_->activateWindow();
}

QuickSendWindow* Form1::quickSend() const {
    return quickSend_;
}

SETNET_Form* Form1::netSettingForm() const {
    return setnet_;
}

void Form1::Form_Load() {
    Label3->setText(engine_->linkState());
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

    showDisplay(QString());
    Command2->setEnabled(false);
    Command8->setEnabled(false);
    Opt_FlowControl[0]->setChecked(true);
    Command5->setEnabled(false);
    Command11->setEnabled(false);
    Command12->setEnabled(false);

    Timer1->setInterval(500);
    Timer3->setInterval(500);

    setWindowTitle(QStringLiteral("Varnok_Binary  v%1.%2.%3  ( KOVRAN )")
                       .arg(kVersionMajor)
                       .arg(kVersionMinor)
                       .arg(kVersionPatch));

    Option2->setChecked(true);
    Text5->setText(QStringLiteral("1A"));
    showReceiveMode();
    Frame2->setTitle(QStringLiteral("Varnok_SEND ( ASCII Mode )"));
    Text1->setEnabled(true);
    Text2->setPlainText(QStringLiteral("KOVRAN"));

    Text3_Left = Text3->x();
    Text3_Top = Text3->y();
    Text3_Width = Text3->width();
    Text3_Height = Text3->height();

    SetBinary->setEnabled(false);
    SetASCII->setEnabled(false);
    Cmd_SetNet->setEnabled(false);

    refreshDeviceList();
    refreshDeviceInfo();
    Init_Modbus();
}

void Form1::closeEvent(QCloseEvent* event) {
    // Form_Unload: close the port if open, then end.
    engine_->shutdown();
    if (setnet_)
        setnet_->close();
    if (monitor_)
        monitor_->close();
    if (quickSend_)
        quickSend_->close();
    event->accept();
    QCoreApplication::exit(0);
}

void Form1::Command9_Click() {
    // END: at once, without the unload steps; the port closes as the program ends.
    if (setnet_)
        setnet_->hide();
    if (monitor_)
        monitor_->hide();
    if (quickSend_)
        quickSend_->hide();
    hide();
    QCoreApplication::exit(0);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == Text2) {
            if (key->key() == Qt::Key_Up)
                Text2_KeyDown(kKeyUp);
            else if (key->key() == Qt::Key_Down)
                Text2_KeyDown(kKeyDown);
        } else if (watched == txtString &&
                   (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            if (txtString_KeyPress(kKeyReturn) == 0)
                return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- the engine's reports

bool Form1::justSwapped() const {
    return swapped_.isValid() && swapped_.elapsed() < QApplication::doubleClickInterval();
}

void Form1::showPortOpen(bool open) {
    swapped_.start();
    // Choices that only apply at opening are fixed while open.
    Command1->setEnabled(!open);
    Command1->setVisible(!open);
    Command7->setEnabled(open);
    Command7->setVisible(open);
    for (QWidget* w : {static_cast<QWidget*>(Combo1), static_cast<QWidget*>(Cbo_Device),
                       static_cast<QWidget*>(Combo2), static_cast<QWidget*>(Text1)})
        w->setEnabled(!open);
    for (QRadioButton* b : Opt_FlowControl)
        b->setEnabled(!open);
    for (QPushButton* b : {Command5, Command2, Command8, Command11, Cmd_SetNet})
        b->setEnabled(open);
    Command12->setEnabled(open && engine_->autoSend());
    SetBinary->setEnabled(open && engine_->sendAscii());
    SetASCII->setEnabled(open && !engine_->sendAscii());
    if (!open)
        refreshDeviceInfo();
}

void Form1::showReceiveMode() {
    const bool binary = engine_->receiveBinary();
    btn_Receive_Binary->setText(binary ? QStringLiteral("ASCII") : QStringLiteral("Binary"));
    // Hex columns line up only in a fixed-pitch face.
    Text3->setFont(binary ? fixedFont(font().pointSize()) : font());
    Frame1->setTitle(QStringLiteral("Varnok_RECV ( %1 )( %2 Mode )")
                         .arg(engine_->manualReceive() ? QStringLiteral("Manual-Recv")
                                                       : QStringLiteral("Auto-Recv"),
                              binary ? QStringLiteral("Binary") : QStringLiteral("ASCII")));
}

void Form1::showSendMode(bool ascii) {
    SetASCII->setEnabled(!ascii);
    SetBinary->setEnabled(ascii);
    for (QWidget* w : {static_cast<QWidget*>(Option1), static_cast<QWidget*>(Option2),
                       static_cast<QWidget*>(Option3), static_cast<QWidget*>(Option4),
                       static_cast<QWidget*>(Option5), static_cast<QWidget*>(Option6),
                       static_cast<QWidget*>(Text5)})
        w->setEnabled(ascii);
    Frame2->setTitle(ascii ? QStringLiteral("Varnok_SEND ( ASCII Mode )")
                           : QStringLiteral("Varnok_SEND ( Binary Mode )"));
}

void Form1::showAutoSend(bool on) {
    Command11->setEnabled(!on && engine_->isOpen());
    Command12->setEnabled(on);
}

void Form1::showAppended(const QString& chunk) {
    if (chunk.isEmpty())
        return;
    // The widget breaks the line at a lone CR and again at the LF that may follow in the next
    // read; what is shown must not depend on where the reads fell.
    QStringView rest(chunk);
    if (text3EndsInCR_ && rest.front() == u'\n')
        rest = rest.mid(1);
    text3EndsInCR_ = chunk.back() == u'\r';
    QTextCursor end(Text3->document());
    end.movePosition(QTextCursor::End);
    end.insertText(rest.toString());
    if (!engine_->receiveBinary())
        Text3->moveCursor(QTextCursor::End); // newest text in view
}

void Form1::showDisplay(const QString& whole) {
    text3EndsInCR_ = !whole.isEmpty() && whole.back() == u'\r';
    Text3->setPlainText(whole);
}

void Form1::showModemLines(bool known, serial::ModemLines lines) {
    const auto show = [known](QLineEdit* box, bool state) {
        box->setText(!known ? QString() : state ? QStringLiteral("True") : QStringLiteral("False"));
    };
    show(txt_CTS, lines.cts);
    show(txt_DSR, lines.dsr);
    show(txt_DCD, lines.dcd);
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
    if (!Cbo_Device->lineEdit()->hasFocus() && Cbo_Device->currentText() != path)
        Cbo_Device->setEditText(path); // what is being typed is left alone
    QString text;
    if (path.isEmpty()) {
        text = tr("Com%1: no device mapped").arg(number);
    } else {
        text = present ? tr("present") : tr("not present");
        if (!shownDeviceDescription_.isEmpty())
            text += QStringLiteral(": ") + shownDeviceDescription_;
    }
    if (!reopenedText_.isEmpty())
        text += QStringLiteral("; ") + reopenedText_;
    Lbl_Device->setText(text);
    Lbl_Device->setToolTip(path.isEmpty() ? text : path + QStringLiteral(" ") + text);
}

void Form1::refreshDeviceList() {
    // The stable /dev/serial/by-id name is what gets bound where the system gives one.
    QHash<QString, QString> byId;
    const QDir idDir(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : idDir.entryInfoList(QDir::System | QDir::Files))
        byId.insert(link.canonicalFilePath(), link.absoluteFilePath());
    QList<std::pair<QString, QString>> entries; // text, path to bind
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString path = info.systemLocation();
        QString text = path;
        if (!info.description().isEmpty())
            text += QStringLiteral("  ") + info.description();
        entries.append({text, byId.value(path, path)});
    }
    std::sort(entries.begin(), entries.end());
    QList<std::pair<QString, QString>> shown;
    for (int i = 0; i < Cbo_Device->count(); ++i)
        shown.append({Cbo_Device->itemText(i), Cbo_Device->itemData(i).toString()});
    if (shown == entries || Cbo_Device->lineEdit()->hasFocus())
        return;
    const QString typed = Cbo_Device->currentText();
    const QSignalBlocker block(Cbo_Device);
    Cbo_Device->clear();
    for (const auto& [text, path] : entries) {
        Cbo_Device->addItem(text, path);
        Cbo_Device->setItemData(Cbo_Device->count() - 1, path, Qt::ToolTipRole);
    }
    Cbo_Device->setCurrentIndex(-1);
    Cbo_Device->setEditText(typed);
}

void Form1::bindDevice(const QString& path) {
    const int number = Combo1->currentIndex() + 1;
    if (QString::fromStdString(serial::devicePathFor(number)) == path)
        return;
    // As --port ComN=PATH does; an empty box gives the number back to the rule.
    serial::bindPort(number, path.trimmed().toStdString());
    rememberPortBindings();
    reopenedText_.clear();
    refreshDeviceInfo();
}

} // namespace varnok
