#pragma once
// One Modbus transaction as rules: the request, its tries, the reply gathered so far, how it
// is judged and what happens next. The clock and the line belong to whoever runs it; this
// says only when to wait, send again or end.
#include <cstdint>
#include <span>
#include <vector>

#include "logic/modbus/poll_request.h"
#include "logic/serial/settings_text.h"

namespace varnok::modbus {

// The silence that ends a frame on the line, in whole ms as a timer counts them: 3.5
// characters, never less than 1.75 ms above 19200 baud (the Monitor's rule).
int frameSilenceMs(const serial::LineSettings& line);

class Transaction {
  public:
    enum class State { Idle, Waiting, Receiving, Ended };
    // What the one running it does next.
    enum class Step { Wait, WaitSilence, SendAgain, End };

    // Failed tries by kind, over all tries of the transaction.
    struct Tally {
        int timeouts = 0, crcErrors = 0, otherErrors = 0;
    };

    void begin(const PollRequest& request, int retries);
    // The request went out (again): a new try with nothing received.
    void sent(std::int64_t nowUs);
    Step received(std::span<const std::uint8_t> chunk, std::int64_t nowUs);
    Step silence();
    Step timeout();
    void cancel() { state_ = State::Idle; }

    State state() const { return state_; }
    const PollRequest& request() const { return request_; }
    int attempts() const { return attempts_; }
    const Tally& tally() const { return tally_; }
    const ReplyCheck& check() const { return check_; }
    bool timedOut() const { return timedOut_; }
    bool answered() const;
    const std::vector<std::uint8_t>& reply() const { return reply_; }
    // From the request's write to the reply's first byte; -1 without a reply.
    std::int64_t responseUs() const;

  private:
    Step judge(bool silent);
    Step failedTry();

    PollRequest request_;
    int retries_ = 0, attempts_ = 0;
    State state_ = State::Idle;
    Tally tally_;
    ReplyCheck check_;
    bool timedOut_ = false;
    std::vector<std::uint8_t> reply_;
    std::int64_t sentUs_ = 0, firstByteUs_ = -1;
};

} // namespace varnok::modbus
