#pragma once
// The N500 network settings dialog: reads and writes address, mask and gateway through the
// device's serial console. While it is open the terminal's receive is manual text; each GET
// and SET takes the line for its exchange (polling waits meanwhile).
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>

namespace varnok::engine {
class TerminalEngine;
}

class QLabel;
class QLineEdit;
class QPushButton;

namespace varnok {

class SETNET_Form : public QWidget {
    Q_OBJECT
  public:
    // A top-level window with no owner, placed over `over` and gone with it; loading it
    // turns the terminal's receive to manual text.
    SETNET_Form(engine::TerminalEngine* engine, QWidget* over);
    ~SETNET_Form() override;

    QPushButton* Cmd_Default;
    QLabel *Label1, *Label2, *Label3;
    std::array<QLineEdit*, 4> IP{};
    std::array<QLineEdit*, 4> Mask{};
    std::array<QLineEdit*, 4> Gateway{};
    QPushButton *Cmd_GET, *Cmd_SET, *Cmd_Exit;

    QString SendStr;
    QString RecvStr;

    void Form_Load();
    void Cmd_GET_Click();
    void Cmd_SET_Click();
    void Cmd_Default_Click();
    void Cmd_Exit_Click();

    // False once the window was closed (by "Exit" or otherwise); it is then deleted soon.
    bool isLoaded() const { return loaded_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    // One console exchange; `then` runs once its reply is in RecvStr. A refusal or a failure
    // is told once, and `then` does not run. Ignored while one is under way.
    void exchange(const QString& command, int pauseMs, const QString& what,
                  std::function<void()> then);
    std::array<QLineEdit*, 12> edits() const; // IP, Mask, Gateway, in order

    QPointer<engine::TerminalEngine> engine_;
    bool loaded_ = true;
    bool busy_ = false; // an exchange is under way
};

} // namespace varnok
