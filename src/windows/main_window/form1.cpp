#include "windows/main_window/form1.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
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

#include "logic/serial/network_port.h"
#include "logic/serial/port_map.h"
#include "version.h"
#include "windows/find/find_window.h"
#include "windows/fixed_font.h"
#include "windows/main_window/message_box.h"
#include "windows/main_window/port_bindings.h"
#include "windows/monitor/monitor_window.h"
#include "windows/netsetting/setnet_form.h"
#include "windows/poll/poll_window.h"
#include "windows/quick_send/quick_send_window.h"
#include "windows/script/script_window.h"

namespace varnok {

Form1::Form1(engine::Session& session, QWidget* parent)
    : QWidget(parent), session_(session), engine_(&session.terminal()) {
    setObjectName(QStringLiteral("Form1"));
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
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);

    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command8, &QPushButton::clicked, this, &Form1::Command8_Click);
    connect(Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);
    connect(btn_Receive_Binary, &QPushButton::clicked, this, &Form1::btn_Receive_Binary_Click);
    connect(Chk_ReadEnLarge, &QCheckBox::toggled, this, &Form1::Chk_ReadEnLarge_Click);
    connect(chk_RecvShowData, &QCheckBox::toggled, engine_, &engine::TerminalEngine::setShowData);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);

    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(SetASCII, &QPushButton::clicked, this, &Form1::SetASCII_Click);
    connect(SetBinary, &QPushButton::clicked, this, &Form1::SetBinary_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(Command10, &QPushButton::clicked, this, &Form1::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &Form1::Command11_Click);
    connect(Command12, &QPushButton::clicked, this, &Form1::Command12_Click);
    connect(txt_TotalSendLen, &QLineEdit::textEdited, engine_,
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
    connect(Cmd_Poll, &QPushButton::clicked, this, &Form1::Cmd_Poll_Click);
    connect(Cmd_QuickSend, &QPushButton::clicked, this, &Form1::Cmd_QuickSend_Click);
    connect(Cmd_Find, &QPushButton::clicked, this, &Form1::Cmd_Find_Click);
    connect(Cmd_Script, &QPushButton::clicked, this, &Form1::Cmd_Script_Click);
    connectEngine();
    connectDeviceChoice();
    // Bindings of earlier runs, under those given on the command line.
    restorePortBindings();
    engine_->port().setConnectTimeout(networkConnectTimeoutMs());

    Form_Load();
    Timer1->start();
    Timer3->start();
}

// The port number, the device box, Reopen and the devices the system has.
void Form1::connectDeviceChoice() {
    connect(Combo1, &QComboBox::currentIndexChanged, this, [this] {
        reopenedText_.clear();
        refreshDeviceInfo();
    });
    connect(Cbo_Device, &QComboBox::activated, this,
            [this](int index) { bindDevice(Cbo_Device->itemData(index).toString()); });
    connect(Cbo_Device->lineEdit(), &QLineEdit::editingFinished, this,
            [this] { bindDevice(Cbo_Device->currentText()); });
    connect(Chk_Reopen, &QCheckBox::toggled, engine_, &engine::TerminalEngine::setReopen);
    connect(engine_, &engine::TerminalEngine::reopened, this, [this] {
        reopenedText_ = tr("reopened at %1").arg(QTime::currentTime().toString(u"HH:mm:ss"));
        refreshDeviceInfo();
    });
    connect(engine_, &engine::TerminalEngine::reopenWaitingChanged, this,
            [this](bool waiting, const QString& path) {
                waitingPath_ = waiting ? path : QString();
                lockPortChoices();
                refreshDeviceInfo();
            });
    // The system says when a device folder changed: the line follows at once, the marks and
    // the list of devices (walks over the device tree) when they are next looked at.
    connect(&engine_->devices(), &serial::DeviceWatcher::changed, this, [this] {
        marksStale_ = deviceListStale_ = true;
        refreshDeviceInfo();
    });
}

void Form1::connectEngine() {
    using E = engine::TerminalEngine;
    E* e = engine_;
    connect(e, &E::message, this, [this](const QString& text) { showMessage(this, text); });
    connect(e, &E::portOpenChanged, this, &Form1::showPortOpen);
    connect(e, &E::connectingChanged, this, &Form1::showConnecting);
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

Form1::~Form1() {
    // The other windows show parts of the session, which may end right after this one.
    delete monitor_.data();
    delete poll_.data();
    delete quickSend_.data();
    delete find_.data();
    delete script_.data();
}

void Form1::Cmd_SetNet_Click() {
    // Modeless with no owner; while it is loaded a second press only raises it.
    if (!setnet_ || !setnet_->isLoaded())
        setnet_ = new SETNET_Form(engine_, this);
    setnet_->show();
    setnet_->raise();
    setnet_->activateWindow();
}

void Form1::Cmd_Monitor_Click() {
    // One monitor window over the recorder; closing it only hides it.
    if (!monitor_) {
        monitor_ = new MonitorWindow(session_);
    }
    monitor_->showBeside(this);
}

MonitorWindow* Form1::monitor() const {
    return monitor_;
}

void Form1::Cmd_Poll_Click() {
    // One poll window; it may stay open while the port opens and closes.
    if (!poll_) {
        poll_ = new PollWindow(session_);
        // Polling goes on with the window closed, so the button tells it.
        connect(&poll_->master(), &engine::ModbusMaster::pollingChanged, this, [this](bool on) {
            Cmd_Poll->setText(on ? QStringLiteral("Poll (running)") : QStringLiteral("Poll"));
            Cmd_Poll->setToolTip(on ? QStringLiteral("Polling runs; \"Stop polling\" in the Poll "
                                                     "window stops it.")
                                    : QString());
        });
    }
    poll_->showBeside(this);
}

void Form1::Cmd_QuickSend_Click() {
    // One Quick Send window; closing it only hides it.
    if (!quickSend_) {
        quickSend_ = new QuickSendWindow(session_);
        // Repeats, a sequence, answers and a file go on with the window closed: the button
        // tells it, from now on (the remembered book may have rules on already).
        const auto tell = [this](bool on) {
            Cmd_QuickSend->setText(on ? QStringLiteral("Quick Send (on)")
                                      : QStringLiteral("Quick Send"));
            Cmd_QuickSend->setToolTip(on ? QStringLiteral("Quick Send repeats, runs a sequence, "
                                                          "answers by its rules or sends a file; "
                                                          "the Quick Send window stops them.")
                                         : QString());
        };
        engine::QuickSendKeeper& book = session_.quickSendBook();
        connect(&book, &engine::QuickSendKeeper::runningChanged, this, tell);
        tell(book.running());
    }
    quickSend_->showBeside(this);
}

QuickSendWindow* Form1::quickSend() const {
    return quickSend_;
}

void Form1::Cmd_Find_Click() {
    // One Find window; the baud chosen here is ticked when it is first made.
    if (!find_) {
        find_ = new FindWindow(session_);
        find_->tickBaud(Combo2->currentText().toInt());
        connect(find_.data(), &FindWindow::use, this, &Form1::useFound);
    }
    find_->showBeside(this);
}

FindWindow* Form1::findWindow() const {
    return find_;
}

void Form1::Cmd_Script_Click() {
    // One Script window; closing it only hides it, and a script it runs goes on.
    if (!script_)
        script_ = new ScriptWindow(session_);
    script_->showBeside(this);
}

ScriptWindow* Form1::scriptWindow() const {
    return script_;
}

PollWindow* Form1::pollWindow() const {
    return poll_;
}

void Form1::useFound(const serial::LineSettings& line, int station) {
    // The choices apply at opening: an open port is closed, given them and opened again.
    const bool reopen = engine_->isOpen();
    if (reopen)
        Command7_Click();
    const int baud = Combo2->findText(QString::number(line.baud));
    if (baud >= 0)
        Combo2->setCurrentIndex(baud);
    else
        Combo2->setEditText(QString::number(line.baud));
    Text1->setText(QString::fromStdString(serial::lineControlText(line)));
    if (reopen)
        Command1_Click();
    if (station <= 0)
        return;
    // The request list is hex bytes, the station first.
    QStringList list = txtString->text().split(u' ', Qt::SkipEmptyParts);
    const QString hex = QString::number(station, 16).toUpper();
    if (list.isEmpty())
        list << hex;
    else
        list[0] = hex;
    txtString->setText(list.join(u' '));
    if (poll_)
        poll_->useStation(station);
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

    refreshDeviceInfo();
    Init_Modbus();
}

void Form1::closeEvent(QCloseEvent* event) {
    // The user closing the window may keep an unsaved script; a signal's close never asks.
    if (event->spontaneous() && script_ && !script_->mayDiscard()) {
        event->ignore();
        return;
    }
    // Form_Unload: close the port if open, then end.
    session_.shutdown();
    if (setnet_)
        setnet_->close();
    if (monitor_)
        monitor_->close();
    if (poll_)
        poll_->close();
    if (quickSend_)
        quickSend_->close();
    if (find_)
        find_->close();
    if (script_)
        script_->close();
    event->accept();
    QCoreApplication::exit(0);
}

void Form1::Command9_Click() {
    // END: at once, without the unload steps; the port closes as the program ends.
    if (setnet_)
        setnet_->hide();
    if (monitor_)
        monitor_->hide();
    if (poll_)
        poll_->hide();
    if (quickSend_)
        quickSend_->hide();
    if (find_)
        find_->hide();
    if (script_)
        script_->hide();
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
    Command1->setEnabled(!open);
    Command1->setVisible(!open);
    Command7->setEnabled(open);
    Command7->setVisible(open);
    lockPortChoices();
    for (QPushButton* b : {Command5, Command2, Command8, Command11, Cmd_SetNet})
        b->setEnabled(open);
    Command12->setEnabled(open && engine_->autoSend());
    SetBinary->setEnabled(open && engine_->sendAscii());
    SetASCII->setEnabled(open && !engine_->sendAscii());
    reopenedText_.clear(); // a reopening says so itself, after this
    deviceNote_ = open ? engine_->deviceNote() : QString();
    refreshDeviceInfo();
}

void Form1::showConnecting(bool connecting) {
    // A port over the network connects in the background: "Close COM" in the place of
    // "Open COM" says so and cancels it.
    swapped_.start();
    Command1->setEnabled(!connecting);
    Command1->setVisible(!connecting);
    Command7->setText(connecting ? tr("Connecting...\nClose COM") : QStringLiteral("Close COM"));
    Command7->setEnabled(connecting);
    Command7->setVisible(connecting);
    lockPortChoices();
    deviceNote_ = connecting ? tr("connecting (Close COM cancels)") : QString();
    refreshDeviceInfo();
}

void Form1::lockPortChoices() {
    // Choices that only apply at opening: while Reopen waits they are the ones it will use.
    const bool locked = engine_->isOpen() || engine_->connecting() || engine_->watchingForReopen();
    for (QWidget* w : {static_cast<QWidget*>(Combo1), static_cast<QWidget*>(Cbo_Device),
                       static_cast<QWidget*>(Combo2), static_cast<QWidget*>(Text1)})
        w->setEnabled(!locked);
    for (QRadioButton* b : Opt_FlowControl)
        b->setEnabled(!locked);
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
    // The button pressed goes grey: the focus goes back to the send box, not on to whatever
    // follows in the tab order (the read-only CTS box after "Stop").
    const bool pressed = on ? Command11->hasFocus() : Command12->hasFocus();
    Command11->setEnabled(!on && engine_->isOpen());
    Command12->setEnabled(on);
    if (pressed)
        Text2->setFocus();
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
    // Newest text in view while it streams in; a manual read leaves the caret to the user.
    if (!engine_->receiveBinary() && !engine_->manualReceive())
        Text3->moveCursor(QTextCursor::End);
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
    serial::DeviceWatcher& devices = engine_->devices();
    const int number = Combo1->currentIndex() + 1;
    const QString path = QString::fromStdString(serial::devicePathFor(number));
    const bool network = serial::looksLikeNetworkPort(path.toStdString());
    // A link outside /dev is followed too; a port over the network is no file to follow.
    devices.follow(QStringLiteral("device line"), network ? QString() : path);
    if (!Cbo_Device->lineEdit()->hasFocus() && Cbo_Device->currentText() != path)
        Cbo_Device->setEditText(path); // what is being typed is left alone
    QString text;
    if (!waitingPath_.isEmpty()) {
        // The path on the first line, its middle left out when it does not fit there.
        const QFontMetrics fm = Lbl_Device->fontMetrics();
        const QString prefix = tr("waiting for") + u' ';
        const int room = Lbl_Device->width() - fm.horizontalAdvance(prefix) - 4;
        text = prefix + fm.elidedText(waitingPath_, Qt::ElideMiddle, room) + tr(" to return");
    } else if (path.isEmpty()) {
        text = tr("Com%1: no device mapped").arg(number);
    } else if (network) {
        // Open, the link says where it is connected (the note below).
        if (!engine_->isOpen() && !engine_->connecting())
            text = tr("not connected");
    } else {
        const bool present = serial::DeviceWatcher::present(path);
        text = present ? tr("present") : tr("not present");
        const QString description = present ? devices.description(path) : QString();
        if (!description.isEmpty())
            text += QStringLiteral(": ") + description;
    }
    for (const QString& more : {reopenedText_, deviceNote_})
        if (!more.isEmpty())
            text += (text.isEmpty() ? QString() : QStringLiteral("; ")) + more;
    // What does not fit the line's two rows ends in "..."; the tip holds it whole.
    QString shown = text;
    const QFontMetrics fm = Lbl_Device->fontMetrics();
    const QRect room(0, 0, Lbl_Device->width(), Lbl_Device->height() + fm.height() / 2);
    while (shown.size() > 3 &&
           fm.boundingRect(room, Qt::TextWordWrap, shown).height() > room.height()) {
        const qsizetype blank = shown.lastIndexOf(u' ', shown.size() - 5);
        shown = shown.left(blank > 0 ? blank : shown.size() - 4) + QStringLiteral("...");
    }
    Lbl_Device->setText(shown);
    const QString shownPath = elideMiddle(path, kMessageRunChars);
    Lbl_Device->setToolTip(path.isEmpty() ? text : shownPath + QStringLiteral(" ") + text);
}

void Form1::refreshPortMarks() {
    // Present devices are marked in the list (bold, with their path as tip); texts stay "ComN".
    if (!marksStale_)
        return;
    marksStale_ = false;
    QFont bold = font();
    bold.setBold(true);
    for (int i = 0; i < Combo1->count(); ++i) {
        const QString path = QString::fromStdString(serial::devicePathFor(i + 1));
        const bool present = serial::DeviceWatcher::present(path);
        Combo1->setItemData(i, present ? QVariant(bold) : QVariant(), Qt::FontRole);
        Combo1->setItemData(i, path.isEmpty() ? QVariant() : QVariant(path), Qt::ToolTipRole);
    }
}

void Form1::refreshDeviceList() {
    if (!deviceListStale_)
        return;
    deviceListStale_ = false;
    QList<std::pair<QString, QString>> entries; // text, path to bind (its by-id name if any)
    for (const serial::DeviceEntry& d : engine_->devices().devices())
        entries.append(
            {d.description.isEmpty() ? d.path : d.path + QStringLiteral("  ") + d.description,
             d.bindPath});
    // Ports over the network used before, after the devices present.
    for (const QString& port : recentNetworkPorts())
        entries.append({port, port});
    QList<std::pair<QString, QString>> shown;
    for (int i = 0; i < Cbo_Device->count(); ++i)
        shown.append({Cbo_Device->itemText(i), Cbo_Device->itemData(i).toString()});
    if (shown == entries)
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

void Form1::bindDevice(const QString& typed) {
    const int number = Combo1->currentIndex() + 1;
    const QString bound = QString::fromStdString(serial::devicePathFor(number));
    const QString path = typed.trimmed();
    if (bound == path)
        return;
    std::string why;
    if (serial::looksLikeNetworkPort(path.toStdString()) &&
        !serial::parseNetworkPort(path.toStdString(), &why)) {
        Cbo_Device->setEditText(bound); // as for a path too long, below
        showMessage(this,
                    tr("Network port refused: %1: %2")
                        .arg(QString::fromStdString(why), elideMiddle(path, kMessageRunChars)));
        return;
    }
    if (!serial::pathLengthAllowed(path.toStdString())) {
        // Back to what is bound first: the box losing its focus to the message ends the edit
        // again.
        Cbo_Device->setEditText(bound);
        showMessage(this, tr("Device path refused: longer than the system allows (%1 bytes in "
                             "all, %2 for each name in it): %3")
                              .arg(serial::kPathMax - 1)
                              .arg(serial::kNameMax)
                              .arg(path));
        return;
    }
    // As --port ComN=PATH does, but remembered; an empty box gives the number back to the rule.
    serial::bindPort(number, path.toStdString());
    rememberPortBindings();
    if (serial::looksLikeNetworkPort(path.toStdString())) {
        rememberNetworkPort(path);
        deviceListStale_ = true;
    }
    marksStale_ = true;
    reopenedText_.clear();
    refreshDeviceInfo();
}

} // namespace varnok
