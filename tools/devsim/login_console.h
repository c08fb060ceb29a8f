#pragma once
// A device's login console: a line with CR asks for "login: ", then "Password: "; after a
// good pair the prompt "> " takes "version", "reboot" and "logout". Nothing is echoed.
#include <string>
#include <string_view>
#include <utility>

namespace devsim {

class LoginConsole {
  public:
    LoginConsole(std::string user, std::string password)
        : user_(std::move(user)), password_(std::move(password)) {}

    // What a reboot writes once the device is up again.
    static constexpr std::string_view kBootText = "\r\nvarnok-devsim console 1.0 booted\r\nlogin: ";
    static constexpr int kRebootMs = 300;

    // Takes received bytes; returns the reply to the lines they complete. `rebooting` is set
    // when a reboot was asked: the boot banner is due a moment later.
    std::string feed(std::string_view bytes, bool& rebooting);

  private:
    enum class State { Idle, User, Password, Shell };
    std::string handleLine(const std::string& line, bool& rebooting);

    std::string user_, password_;
    State state_ = State::Idle;
    std::string partial_, givenUser_;
};

} // namespace devsim
