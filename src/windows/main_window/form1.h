#pragma once
// The main window: port choices, send and receive sides, the Modbus tool and the N500 button.
// A skin over the terminal engine: each handler reads its controls and calls the engine, and
// what the engine reports is mapped back onto the controls.
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
#include <memory>

#include "engine/session.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace varnok {

class FindWindow;
class MonitorWindow;
class PollWindow;
class QuickSendWindow;
class ScriptWindow;
class TrafficRecorder;
class SETNET_Form;

// Key codes the key handlers are given.
inline constexpr int kKeyReturn = 13;
inline constexpr int kKeyUp = 38;
inline constexpr int kKeyDown = 40;

class Form1 : public QWidget {
    Q_OBJECT
  public:
    // The port may be given (tests hand in one whose modem lines they play); else a real one.
    // The window shows and drives `session`, which outlives it.
    explicit Form1(engine::Session& session, QWidget* parent = nullptr);
    ~Form1() override;

    engine::TerminalEngine& engine() { return *engine_; }
    engine::Session& session() { return session_; }

    // ---- controls (objectName = the name; array elements Name_i) ----
    // port area
    QLabel* Label2;                                 // "COM Port"
    QComboBox* Combo1;                              // "Com1" .. "Com255"
    QComboBox* Cbo_Device;                          // the device the chosen number opens
    QLabel* Lbl_Device;                             // whether it is present, and what it is
    QLabel* Label5;                                 // "Baud"
    QComboBox* Combo2;                              // "300" .. "921600"
    QLabel* Label6;                                 // "Line Control"
    QLineEdit* Text1;                               // "n,8,1"
    QLabel* Label11;                                // "Flow Control : "
    std::array<QRadioButton*, 3> Opt_FlowControl{}; // "None", "HW", "SW"
    QCheckBox* Chk_DTR;                             // "DTR_Disable"
    QCheckBox* Chk_ConnDetect;                      // "Auto Connect Detection": no effect
    QPushButton* Cmd_Poll;                          // "Poll"
    QPushButton* Cmd_Monitor;                       // "Monitor"
    QPushButton* Cmd_QuickSend;                     // "Quick Send"
    QPushButton* Cmd_Find;                          // "Find Device"
    QPushButton* Cmd_Script;                        // "Script"
    QCheckBox* Chk_Reopen;                          // "Reopen"
    QLabel* Label12;                                // "CTS : "
    QLineEdit* txt_CTS;                             // True / False
    QLabel* Label13;                                // "DSR : "
    QLineEdit* txt_DSR;                             // True / False
    QLabel* txtDCD;                                 // "DCD : "
    QLineEdit* txt_DCD;                             // True / False
    QLabel* Label1;                                 // "Connect State :"
    QLabel* Label3;                                 // "Local Breaking" / "Opposite Breaking" / ...
    QPushButton* Command1;                          // "Open COM"
    QPushButton* Command7;                          // "Close COM"
    QPushButton* Command9;                          // "END"
    QPlainTextEdit* Text3;                          // the receive display

    QGroupBox* Frame1;               // "Varnok_RECV ( Auto-Recv )( ASCII Mode )"
    QPushButton* Command2;           // "Manual Recv"
    QPushButton* Command8;           // "Auto Recv"
    QPushButton* btn_Receive_Binary; // "Binary" / "ASCII"
    QPushButton* Command4;           // "Clear Input Buffer"
    QPushButton* Command3;           // "Clear Text"
    QCheckBox* Chk_ReadEnLarge;      // "Enlarge"
    QCheckBox* chk_RecvShowData;     // "ShowData"
    QLabel* Label10;                 // "Recv_Len :"
    QLabel* Recv_Length;             // characters of the last read
    QLineEdit* txt_TotalRecvLen;     // receive total

    QGroupBox* Frame2;           // "Varnok_SEND ( ASCII Mode )"
    QPlainTextEdit* Text2;       // the send box, "KOVRAN"
    QPushButton* Command5;       // "Send "
    QPushButton* Command6;       // "Clear Text" (the send counters)
    QPushButton* SetASCII;       // "ASCII"
    QPushButton* SetBinary;      // "Binary"
    QLabel* Label9;              // "Send_Len :"
    QLineEdit* SendStrNum;       // count of the last send
    QLineEdit* txt_TotalSendLen; // send total

    QGroupBox* Frame3;     // "End char of String"
    QRadioButton* Option1; // "None"
    QRadioButton* Option2; // "CR(0x0d)"
    QRadioButton* Option3; // "LF(0x0a)"
    QRadioButton* Option4; // "LF_CR( 0x0a 0x0d )"
    QRadioButton* Option5; // "CR_LF( 0x0d 0x0a )"
    QRadioButton* Option6; // "Def"
    QLineEdit* Text5;      // the "Def" bytes, "1A"
    QLabel* Label7;        // "( HEX)"

    QGroupBox* Frame4;      // "Auto-Send"
    QLabel* Label4;         // "Period :"
    QLineEdit* Text4;       // "500"
    QPushButton* Command10; // "Setting"
    QPushButton* Command11; // "Send"
    QPushButton* Command12; // "Stop"

    QGroupBox* Frame5;                // "Modbus_RTU"
    QLabel* Label8;                   // "Send Cmd"
    QPushButton* cmdSend;             // "Send "
    QPushButton* cmdClearSendReceive; // "Clear"
    QLineEdit* txtString;             // the request list, "1 4 0 0 0 1"
    QPlainTextEdit* txtSend;          // the log of frames sent
    QComboBox* cboFunction;           // the function catalogue
    QPlainTextEdit* txtExplanation;   // the chosen function's layout

    QGroupBox* Frame6;       // "N500"
    QPushButton* Cmd_SetNet; // "Set_Net"

    QTimer* Timer1; // link monitor, 500 ms
    QTimer* Timer2; // auto-send tick (the engine's), 500 ms until "Setting"
    QTimer* Timer3; // one shot: starts auto receive 500 ms after start-up

    // ---- handlers ----
    void Form_Load();
    void Command1_Click(); // open
    void Command7_Click(); // close
    void Command9_Click(); // END

    void Chk_DTR_Click();
    void Opt_FlowControl_Click(int index);
    void Timer1_Timer();

    void Command2_Click(); // manual read
    void Command8_Click(); // auto receive
    void Timer3_Timer();
    void btn_Receive_Binary_Click();
    void Chk_ReadEnLarge_Click();
    void Command3_Click(); // clear display and counters
    void Command4_Click(); // clear input buffer

    void Command5_Click(); // send
    void SetASCII_Click();
    void SetBinary_Click();
    void Text2_KeyDown(int keyCode);
    void Command6_Click();  // clear send counters
    void Command10_Click(); // period
    void Command11_Click(); // auto-send on
    void Command12_Click(); // auto-send off
    void Timer2_Timer();

    void Init_Modbus();
    void cmdSend_Click();
    // Returns the key code to pass on (0 swallows it).
    int txtString_KeyPress(int keyAscii);
    void cmdClearSendReceive_Click();
    void cboFunction_Click();
    void cboFunction_Change();

    void Cmd_SetNet_Click();
    SETNET_Form* netSettingForm() const;
    void Cmd_Monitor_Click();
    void Cmd_Poll_Click();
    MonitorWindow* monitor() const;
    void Cmd_QuickSend_Click();
    QuickSendWindow* quickSend() const;
    void Cmd_Find_Click();
    FindWindow* findWindow() const;
    void Cmd_Script_Click();
    ScriptWindow* scriptWindow() const;
    PollWindow* pollWindow() const;
    // A found device's setting into the port choices (the port reopened if open) and its
    // station into the Modbus tool and the Poll window; station 0 leaves the stations alone.
    void useFound(const serial::LineSettings& line, int station);

  protected:
    void closeEvent(QCloseEvent* event) override; // Form_Unload
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls(); // one function per frame or area, below
    void buildSendFrame();
    void buildEndCharFrame();
    void buildAutoSendFrame();
    void buildLinkArea();
    void buildReceiveFrame();
    void buildPortChoices();
    void buildFreeArea();
    void buildModbusFrame();
    void connectEngine();
    void connectDeviceChoice();
    void refreshDeviceInfo();             // the device line under the device box
    void refreshPortMarks();              // numbers whose device is present, in bold
    void refreshDeviceList();             // the devices present now, in the device box
    void bindDevice(const QString& path); // the chosen number opens this path from now on
    void lockPortChoices();               // fixed while open and while Reopen waits
    engine::SendRequest sendBox() const;

    // what the engine reports, onto the controls
    void showPortOpen(bool open);
    void showConnecting(bool connecting);
    bool justSwapped() const;
    void showReceiveMode();
    void showSendMode(bool ascii);
    void showAutoSend(bool on);
    void showAppended(const QString& chunk);
    void showDisplay(const QString& whole);
    void showModemLines(bool known, serial::ModemLines lines);

    engine::Session& session_;
    engine::TerminalEngine* engine_; // the session's terminal
    QButtonGroup* flowGroup_ = nullptr;
    int Text3_Left = 0, Text3_Top = 0, Text3_Width = 0, Text3_Height = 0;
    QElapsedTimer swapped_;      // when "Open COM" and "Close COM" last changed places
    bool text3EndsInCR_ = false; // the widget already broke the line for a CR just shown

    // What the system's device folders held when the marks and the list were last made.
    bool marksStale_ = true;
    bool deviceListStale_ = true;
    QString reopenedText_; // "reopened at ..." until the next close, open or choice
    QString waitingPath_;  // what Reopen waits for, "" when it does not
    QString deviceNote_;   // what the engine says of the open device

    QPointer<SETNET_Form> setnet_;
    QPointer<MonitorWindow> monitor_;
    QPointer<PollWindow> poll_;
    QPointer<QuickSendWindow> quickSend_;
    QPointer<FindWindow> find_;
    QPointer<ScriptWindow> script_;
};

} // namespace varnok
