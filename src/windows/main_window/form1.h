#pragma once
// The main window: port choices, send and receive sides, the Modbus tool and the N500 button.
#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

#include "logic/codec/send_history.h"
#include "port/comm_port.h"

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

class SETNET_Form;

class Form1 : public QWidget {
    Q_OBJECT
  public:
    // The port may be given (tests hand in one whose modem lines they play); else a real one.
    explicit Form1(std::unique_ptr<serial::CommPort> port = nullptr, QWidget* parent = nullptr);
    ~Form1() override;

    // ---- controls (objectName = the name; array elements Name_i) ----
    QLabel *Label2, *Label5, *Label6, *Label11, *Label12, *Label13, *txtDCD, *Label1, *Label3;
    QLabel* Lbl_Device; // which device the chosen number opens, and whether it is present
    QComboBox *Combo1, *Combo2;
    QLineEdit* Text1;
    std::array<QRadioButton*, 3> Opt_FlowControl{};
    QCheckBox *Chk_DTR, *Chk_ConnDetect;
    QLineEdit *txt_CTS, *txt_DSR, *txt_DCD;
    QPushButton *Command1, *Command7, *Command9;
    QPlainTextEdit* Text3;

    QGroupBox* Frame1; // receive
    QPushButton *Command2, *Command8, *btn_Receive_Binary, *Command4, *Command3;
    QCheckBox *Chk_ReadEnLarge, *chk_RecvShowData;
    QLabel *Label10, *Recv_Length;
    QLineEdit* txt_TotalRecvLen;

    QGroupBox* Frame2; // send
    QPlainTextEdit* Text2;
    QPushButton *Command5, *Command6, *SetASCII, *SetBinary;
    QLabel* Label9;
    QLineEdit *SendStrNum, *txt_TotalSendLen;

    QGroupBox* Frame3; // end of string
    QRadioButton *Option1, *Option2, *Option3, *Option4, *Option5, *Option6;
    QLineEdit* Text5;
    QLabel* Label7;

    QGroupBox* Frame4; // auto-send
    QPushButton *Command11, *Command12, *Command10;
    QLabel* Label4;
    QLineEdit* Text4;

    QGroupBox* Frame5; // Modbus RTU
    QComboBox* cboFunction;
    QLabel* Label8;
    QLineEdit* txtString;
    QPushButton *cmdSend, *cmdClearSendReceive;
    QPlainTextEdit *txtSend, *txtExplanation;

    QGroupBox* Frame6; // N500
    QPushButton* Cmd_SetNet;

    QTimer *Timer1, *Timer2, *Timer3;

    serial::CommPort* MSComm1 = nullptr;

    // ---- state shared with the network dialog ----
    bool Rec_Data_Manual = false;
    bool Recive_Binary = false;

    // ---- window-level state ----
    bool Port_Opened = false;
    std::uint8_t Flow_Control = 0;
    bool Auto_Send = false;
    bool Send_ASCII_Mode = true;
    std::u16string Send_Data;
    codec::SendHistory Send_History;
    std::int32_t Recv_Total_Base = 0;
    std::int32_t Recv_Show_Limit = 1024;
    int Text3_Left = 0, Text3_Top = 0, Text3_Width = 0, Text3_Height = 0;

    // ---- handlers ----
    void Form_Load();
    void Command1_Click(); // open
    void Command7_Click(); // close
    void Command9_Click(); // END

    void Chk_DTR_Click();
    void Opt_FlowControl_Click(int index);
    void Chk_ConnDetect_Click();
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

    // The characters now in the receive display, as counted (not re-read from the widget).
    std::int64_t receiveDisplayLength() const { return text3Data_.size(); }
    // Whether the auto receive loop is running.
    bool autoReceiveRunning() const { return autoActive_; }

  protected:
    void closeEvent(QCloseEvent* event) override; // Form_Unload
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls();
    void refreshDeviceInfo(); // the device label and the marks of present devices
    void enterClosedState();  // the window side of closing the port
    void onDeviceLost();

    // receive side
    void scheduleReceivePass();
    void receivePass();
    void appendToDisplay(const QString& chunk);
    void appendManual(const QString& chunk, std::int64_t dropFront); // keeps the manual cap
    void clearDisplay();
    void setFrame1Caption();

    bool autoActive_ = false;
    bool passPending_ = false;
    bool inPass_ = false;
    QTimer* autoTick_ = nullptr; // modem lines and a lost device are seen even with no data
    QString text3Data_;          // what the display holds, character for character

    QTimer* presenceTimer_ = nullptr;
    QString shownDevicePath_; // the device the label describes, and what it says of it
    bool shownDevicePresent_ = false;
    QString shownDeviceDescription_;
    bool timer1MessageOpen_ = false;
    bool autoSendMessageOpen_ = false;

    QPointer<SETNET_Form> setnet_;
};

} // namespace varnok
