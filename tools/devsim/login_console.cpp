#include "login_console.h"

#include <cstdio>

namespace devsim {

std::string LoginConsole::feed(std::string_view bytes, bool& rebooting) {
    std::string reply;
    for (const char c : bytes) {
        if (c == '\n')
            continue; // the LF of a CR LF sender
        if (c != '\r') {
            partial_ += c;
            continue;
        }
        reply += handleLine(partial_, rebooting);
        partial_.clear();
    }
    return reply;
}

std::string LoginConsole::handleLine(const std::string& line, bool& rebooting) {
    switch (state_) {
    case State::Idle:
        state_ = State::User;
        return "login: ";
    case State::User:
        if (line.empty())
            return "login: "; // Enter at the prompt asks again
        givenUser_ = line;
        state_ = State::Password;
        return "Password: ";
    case State::Password: {
        const bool good = givenUser_ == user_ && line == password_;
        std::fprintf(stderr, "login \"%s\" -> %s\n", givenUser_.c_str(),
                     good ? "welcome" : "incorrect");
        state_ = good ? State::Shell : State::User;
        return good ? "\r\nWelcome, " + givenUser_ + "\r\n> " : "\r\nLogin incorrect\r\nlogin: ";
    }
    case State::Shell:
        break;
    }
    std::fprintf(stderr, "login command \"%s\"\n", line.c_str());
    if (line.empty())
        return "> ";
    if (line == "version")
        return "varnok-devsim console 1.0\r\n> ";
    if (line == "logout") {
        state_ = State::User;
        return "\r\nlogin: ";
    }
    if (line == "reboot") {
        state_ = State::User;
        rebooting = true;
        return "Rebooting...\r\n";
    }
    return "unknown command: " + line + "\r\n> ";
}

} // namespace devsim
