#pragma once
// One user of the line at a time. A user (the Modbus master, the device finder, the console
// exchange, a Quick Send sequence or file) asks the terminal for the line and gets a lease,
// at once or once those before it have given theirs back. While a lease takes the input, only
// its holder reads and the terminal's receive waits; the holder may hold the terminal's own
// sends and change the line's settings, which come back when the lease ends. Everything the
// holder reads and writes is told as traffic like every other byte.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "engine/outcome.h"
#include "port/link.h"

namespace varnok::engine {

class TerminalEngine;

// What a user asks the line for.
struct LineUse {
    explicit LineUse(QString who_ = {}, bool input_ = true, bool showWaiting_ = true,
                     bool forwards_ = false)
        : who(std::move(who_)), input(input_), showWaiting(showWaiting_), forwards(forwards_) {}
    QString who;      // told to those queued behind it: "Find Device"
    bool input;       // only the holder reads; the terminal's receive waits
    bool showWaiting; // what waits unread is shown by the terminal first
    bool forwards;    // writes only what another port gave it: allowed under listen only
};

// While one lives, the terminal's own sends wait; they go out in order once the last ends.
class SendHold {
  public:
    SendHold() = default;
    SendHold(SendHold&& other) noexcept;
    SendHold& operator=(SendHold&& other) noexcept;
    SendHold(const SendHold&) = delete;
    SendHold& operator=(const SendHold&) = delete;
    ~SendHold() { release(); }
    void release();

  private:
    friend class LineLease;
    explicit SendHold(TerminalEngine* engine);
    TerminalEngine* engine_ = nullptr;
};

class LineLease {
  public:
    LineLease() = default;
    LineLease(LineLease&& other) noexcept;
    LineLease& operator=(LineLease&& other) noexcept;
    LineLease(const LineLease&) = delete;
    LineLease& operator=(const LineLease&) = delete;
    ~LineLease() { release(); }

    // False once given back, and once the port has closed under it.
    bool held() const;
    explicit operator bool() const { return held(); }
    void release();

    // What waits, told as received; a dead port throws serial::PortError.
    QByteArray read();
    // Goes out now, past every send hold, told as sent (not counted as the user's sends);
    // a closed port or a full output queue throws serial::PortError.
    void write(const QByteArray& bytes);
    SendHold holdSends();
    // Other settings on the open line between two uses, without closing it; the opening's
    // come back when the lease ends. Failed with the port's refusal (nothing is reported).
    Outcome changeLineSettings(const serial::LineSettings& line);
    Outcome restoreLineSettings();

    // Told at once when bytes arrive for the holder (only while it takes the input).
    void onData(std::function<void()> told);
    // Told once another user queues for the line: a holder that keeps the line between
    // uses (polling) gives it back at its next pause.
    void onWanted(std::function<void()> told);
    bool wanted() const;

  private:
    friend class TerminalEngine;
    LineLease(TerminalEngine* engine, std::uint64_t id) : engine_(engine), id_(id) {}
    TerminalEngine* engine_ = nullptr;
    std::uint64_t id_ = 0;
};

} // namespace varnok::engine
