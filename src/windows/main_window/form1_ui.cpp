// Building the main window's controls. Rectangles are in pixels at 96 dpi (15 twips each);
// the receive frame, the receive box and the Modbus frame sit where they were drawn in twips.
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <limits>

#include "windows/fixed_font.h"
#include "windows/main_window/form1.h"
#include "windows/main_window/popup_combo.h"
#include "windows/twips.h"

namespace varnok {

namespace {

QString name(const char* n) {
    return QString::fromLatin1(n);
}

template <typename T>
T* make(QWidget* parent, const char* objectName, const QString& text, QRect r) {
    auto* w = new T(parent);
    w->setObjectName(name(objectName));
    if constexpr (std::is_same_v<T, QGroupBox>)
        w->setTitle(text);
    else if constexpr (std::is_same_v<T, QPlainTextEdit>)
        w->setPlainText(text);
    else if constexpr (!std::is_base_of_v<QComboBox, T>)
        w->setText(text);
    w->setGeometry(r);
    return w;
}

void paint(QWidget* w, QPalette::ColorRole role, QColor c) {
    QPalette p = w->palette();
    p.setColor(role, c);
    w->setPalette(p);
}

// Wide enough, in the fixed-pitch face, for an 8-byte frame in the log and for the longest
// line of the function explanations, without scrolling.
constexpr int kLogWidth = 200;
constexpr int kExplanationLeft = 232;
constexpr int kExplanationWidth = 520;

const QColor kLightOrange(255, 224, 192);
const QColor kLightGreen(192, 255, 192);
const QColor kLightPink(255, 192, 192);
const QColor kGrey(192, 192, 192);
const QColor kLightYellow(255, 255, 192);

} // namespace

void Form1::buildControls() {
    QFont f = font();
    f.setPointSize(8);
    setFont(f);
    paint(this, QPalette::Window, kLightOrange);
    setAutoFillBackground(true);

    buildSendFrame();
    buildEndCharFrame();
    buildAutoSendFrame();
    buildLinkArea();
    buildReceiveFrame();
    buildPortChoices();
    buildFreeArea();
    buildModbusFrame();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(name("Timer1"));
    Timer3 = new QTimer(this);
    Timer3->setObjectName(name("Timer3"));

    setFixedSize(800, tw(6240) + tw(3810) + 12);
    Text2->installEventFilter(this);
    txtString->installEventFilter(this);
}

// ---- send side (left) ----
void Form1::buildSendFrame() {
    Frame2 = make<QGroupBox>(this, "Frame2", name("Varnok_SEND"), {16, 8, 264, 190});
    Text2 = make<QPlainTextEdit>(Frame2, "Text2", QString(), {10, 20, 244, 64});
    Text2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    paint(Text2, QPalette::Text, Qt::blue);
    paint(Text2, QPalette::Base, Qt::white);
    Command5 = make<QPushButton>(Frame2, "Command5", name("Send "), {10, 90, 80, 26});
    Command6 = make<QPushButton>(Frame2, "Command6", name("Clear Text"), {96, 90, 80, 26});
    SetASCII = make<QPushButton>(Frame2, "SetASCII", name("ASCII"), {10, 120, 80, 26});
    SetBinary = make<QPushButton>(Frame2, "SetBinary", name("Binary"), {96, 120, 80, 26});
    Label9 = make<QLabel>(Frame2, "Label9", name("Send_Len :"), {10, 156, 64, 20});
    SendStrNum = make<QLineEdit>(Frame2, "SendStrNum", name("0"), {76, 154, 70, 22});
    txt_TotalSendLen = make<QLineEdit>(Frame2, "txt_TotalSendLen", name("0"), {152, 154, 102, 22});
}

void Form1::buildEndCharFrame() {
    Frame3 = make<QGroupBox>(this, "Frame3", name("End char of String"), {16, 204, 264, 96});
    Option1 = make<QRadioButton>(Frame3, "Option1", name("None"), {10, 20, 100, 20});
    Option2 = make<QRadioButton>(Frame3, "Option2", name("CR(0x0d)"), {10, 44, 100, 20});
    Option3 = make<QRadioButton>(Frame3, "Option3", name("LF(0x0a)"), {10, 68, 100, 20});
    Option4 = make<QRadioButton>(Frame3, "Option4", name("LF_CR( 0x0a 0x0d )"), {112, 20, 148, 20});
    Option5 = make<QRadioButton>(Frame3, "Option5", name("CR_LF( 0x0d 0x0a )"), {112, 44, 148, 20});
    Option6 = make<QRadioButton>(Frame3, "Option6", name("Def"), {112, 68, 52, 20});
    Text5 = make<QLineEdit>(Frame3, "Text5", QString(), {166, 67, 44, 22});
    Label7 = make<QLabel>(Frame3, "Label7", name("( HEX)"), {214, 69, 44, 18});
}

void Form1::buildAutoSendFrame() {
    Frame4 = make<QGroupBox>(this, "Frame4", name("Auto-Send"), {16, 306, 264, 102});
    Label4 = make<QLabel>(Frame4, "Label4", name("Period :"), {10, 26, 52, 20});
    Text4 = make<QLineEdit>(Frame4, "Text4", name("500"), {64, 24, 70, 22});
    Command10 = make<QPushButton>(Frame4, "Command10", name("Setting"), {144, 22, 80, 26});
    Command11 = make<QPushButton>(Frame4, "Command11", name("Send"), {10, 62, 80, 26});
    Command12 = make<QPushButton>(Frame4, "Command12", name("Stop"), {96, 62, 80, 26});
}

// ---- link state, indicators, N500, open and close (middle, above the receive frame) ----
void Form1::buildLinkArea() {
    Label1 = make<QLabel>(this, "Label1", name("Connect State :"), {288, 10, 96, 20});
    Label3 = make<QLabel>(this, "Label3", QString(), {386, 8, 166, 24});
    {
        QFont bold = Label3->font();
        bold.setBold(true);
        Label3->setFont(bold);
        paint(Label3, QPalette::WindowText, Qt::red);
        paint(Label3, QPalette::Window, Qt::white);
        Label3->setAutoFillBackground(true);
        Label3->setAlignment(Qt::AlignCenter);
    }
    Label12 = make<QLabel>(this, "Label12", name("CTS : "), {288, 42, 36, 20});
    txt_CTS = make<QLineEdit>(this, "txt_CTS", QString(), {322, 40, 44, 22});
    Label13 = make<QLabel>(this, "Label13", name("DSR : "), {370, 42, 36, 20});
    txt_DSR = make<QLineEdit>(this, "txt_DSR", QString(), {404, 40, 44, 22});
    txtDCD = make<QLabel>(this, "txtDCD", name("DCD : "), {452, 42, 36, 20});
    txt_DCD = make<QLineEdit>(this, "txt_DCD", QString(), {486, 40, 43, 22});
    for (QLineEdit* box : {txt_CTS, txt_DSR, txt_DCD})
        box->setReadOnly(true);

    Frame6 = make<QGroupBox>(this, "Frame6", name("N500"), {288, 70, 264, 58});
    Cmd_SetNet = make<QPushButton>(Frame6, "Cmd_SetNet", name("Set_Net"), {10, 22, 110, 28});
    paint(Cmd_SetNet, QPalette::Button, kLightYellow);

    Command1 = make<QPushButton>(this, "Command1", name("Open COM"), {288, 136, 118, 52});
    paint(Command1, QPalette::Button, kLightGreen);
    Command7 = make<QPushButton>(this, "Command7", name("Close COM"), {288, 136, 118, 52});
    paint(Command7, QPalette::Button, kLightPink);
    Command9 = make<QPushButton>(this, "Command9", name("END"), {411, 136, 118, 52});
    paint(Command9, QPalette::Button, kGrey);
}

// ---- receive side ----
void Form1::buildReceiveFrame() {
    Frame1 = make<QGroupBox>(this, "Frame1", name("Varnok_RECEIVE"),
                             {tw(4320), tw(2940), 264, tw(3225)});
    // Four rows between the caption (the contents start 19 down) and the receive box (104).
    Command2 = make<QPushButton>(Frame1, "Command2", name("Manual Recv"), {6, 20, 80, 22});
    Command8 = make<QPushButton>(Frame1, "Command8", name("Auto Recv"), {88, 20, 72, 22});
    btn_Receive_Binary =
        make<QPushButton>(Frame1, "btn_Receive_Binary", name("Binary"), {162, 20, 72, 22});
    Command4 = make<QPushButton>(Frame1, "Command4", name("Clear Input Buffer"), {6, 43, 120, 22});
    Command3 = make<QPushButton>(Frame1, "Command3", name("Clear Text"), {128, 43, 80, 22});
    Chk_ReadEnLarge = make<QCheckBox>(Frame1, "Chk_ReadEnLarge", name("Enlarge"), {6, 66, 76, 18});
    chk_RecvShowData =
        make<QCheckBox>(Frame1, "chk_RecvShowData", name("ShowData"), {88, 66, 90, 18});
    chk_RecvShowData->setChecked(true);
    Label10 = make<QLabel>(Frame1, "Label10", name("Recv_Len :"), {6, 85, 62, 18});
    Recv_Length = make<QLabel>(Frame1, "Recv_Length", name("0"), {70, 85, 48, 18});
    txt_TotalRecvLen = make<QLineEdit>(Frame1, "txt_TotalRecvLen", name("0"), {120, 85, 114, 19});

    // The receive box lies over the lower part of the receive frame, not inside it, so that
    // "Enlarge" can move it over the Modbus frame.
    Text3 = make<QPlainTextEdit>(this, "Text3", QString(), {tw(4500), tw(4500), 240, tw(1335)});
    Text3->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text3->setReadOnly(true);
    Text3->setUndoRedoEnabled(false);
    paint(Text3, QPalette::Base, Qt::white);
}

// ---- port choices (right) ----
void Form1::buildPortChoices() {
    Label2 = make<QLabel>(this, "Label2", name("COM Port"), {564, 12, 80, 20});
    auto* numbers = make<PopupComboBox>(this, "Combo1", QString(), {648, 10, 136, 24});
    numbers->beforePopup = [this] { refreshPortMarks(); };
    Combo1 = numbers;
    // The device the chosen number opens: a choice of the devices present, or a path typed.
    auto* devices = make<PopupComboBox>(this, "Cbo_Device", QString(), {564, 38, 220, 24});
    devices->beforePopup = [this] { refreshDeviceList(); };
    Cbo_Device = devices;
    Cbo_Device->setEditable(true);
    Cbo_Device->setInsertPolicy(QComboBox::NoInsert);
    Cbo_Device->setCompleter(nullptr);
    Lbl_Device = make<QLabel>(this, "Lbl_Device", QString(), {564, 64, 220, 30});
    Lbl_Device->setWordWrap(true);
    Lbl_Device->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label5 = make<QLabel>(this, "Label5", name("Baud"), {564, 100, 80, 20});
    Combo2 = make<QComboBox>(this, "Combo2", QString(), {648, 98, 136, 24});
    Label6 = make<QLabel>(this, "Label6", name("Line Control"), {564, 130, 80, 20});
    Text1 = make<QLineEdit>(this, "Text1", name("n,8,1"), {648, 128, 136, 22});
    Label11 = make<QLabel>(this, "Label11", name("Flow Control : "), {564, 156, 120, 20});
    const char* flowNames[] = {"Opt_FlowControl_0", "Opt_FlowControl_1", "Opt_FlowControl_2"};
    const char* flowCaptions[] = {"None", "HW", "SW"};
    for (int i = 0; i < 3; ++i)
        Opt_FlowControl[static_cast<size_t>(i)] = make<QRadioButton>(
            this, flowNames[i], name(flowCaptions[i]), {564 + i * 70, 176, 66, 20});
    Chk_DTR = make<QCheckBox>(this, "Chk_DTR", name("DTR_Disable"), {564, 200, 220, 20});
    Chk_ConnDetect = make<QCheckBox>(this, "Chk_ConnDetect", name("Auto Connect Detection"),
                                     {564, 222, 220, 20});
}

// Buttons of the tool windows under the port choices; the rows below them down to the Modbus
// frame stay free for more.
void Form1::buildFreeArea() {
    Cmd_Monitor = make<QPushButton>(this, "Cmd_Monitor", name("Monitor"), {564, 250, 100, 26});
    Cmd_Poll = make<QPushButton>(this, "Cmd_Poll", name("Poll"), {564, 282, 100, 26});
    Cmd_QuickSend =
        make<QPushButton>(this, "Cmd_QuickSend", name("Quick Send"), {676, 282, 108, 26});
    Cmd_Find = make<QPushButton>(this, "Cmd_Find", name("Find Device"), {564, 314, 100, 26});
    Cmd_Script = make<QPushButton>(this, "Cmd_Script", name("Script"), {676, 314, 108, 26});
    Chk_Reopen = make<QCheckBox>(this, "Chk_Reopen", name("Reopen"), {676, 253, 108, 20});
    Chk_Reopen->setToolTip(name("Open the port again when its device returns"));
}

// ---- Modbus RTU (bottom) ----
void Form1::buildModbusFrame() {
    Frame5 =
        make<QGroupBox>(this, "Frame5", name("Modbus_RTU"), {tw(240), tw(6240), 768, tw(3810)});
    Label8 = make<QLabel>(Frame5, "Label8", name("Send Cmd"), {10, tw(420), 58, tw(195) + 2});
    // The top row starts below the caption's line, where the style puts the contents.
    cmdSend = make<QPushButton>(Frame5, "cmdSend", name("Send "), {tw(1050), 20, tw(990), 28});
    cmdClearSendReceive = make<QPushButton>(Frame5, "cmdClearSendReceive", name("Clear"),
                                            {tw(2100), 20, tw(675), 28});
    txtString = make<QLineEdit>(Frame5, "txtString", name("1 4 0 0 0 1"),
                                {tw(240), tw(735), kLogWidth, tw(285) + 3});
    // A long pasted list is refused whole by the builder, never cut short by the box.
    txtString->setMaxLength(std::numeric_limits<int>::max());
    txtSend = make<QPlainTextEdit>(Frame5, "txtSend", QString(),
                                   {tw(240), tw(1080), kLogWidth, tw(2595)});
    txtSend->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtSend->setLineWrapMode(QPlainTextEdit::NoWrap);
    cboFunction = make<QComboBox>(Frame5, "cboFunction", QString(),
                                  {kExplanationLeft, 20, kExplanationWidth, tw(315) + 3});
    cboFunction->setEditable(true);
    cboFunction->setInsertPolicy(QComboBox::NoInsert);
    // No completion: typed text must never turn into a choice of its own.
    cboFunction->setCompleter(nullptr);
    cboFunction->setEditText(name("Modbus Function"));
    txtExplanation = make<QPlainTextEdit>(Frame5, "txtExplanation", QString(),
                                          {kExplanationLeft, tw(720), kExplanationWidth, tw(2925)});
    txtExplanation->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtExplanation->setLineWrapMode(QPlainTextEdit::NoWrap);
    {
        // The layouts line up in columns only in a fixed-pitch face.
        const QFont mono = fixedFont(8);
        txtExplanation->setFont(mono);
        txtSend->setFont(mono);
    }
}

} // namespace varnok
