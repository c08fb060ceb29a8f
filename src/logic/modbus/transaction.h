#pragma once
// One Modbus transaction as rules: the request, its tries, the reply gathered so far, how it
// is judged and what happens next. The clock and the line belong to whoever runs it; this
// says only when to wait, send again or end.
#include <cstdint>
#include <span>
#include <vector>

#include "logic/modbus/mbap.h"
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
        int staleReplies = 0; // Modbus TCP replies of another transaction id, dropped
    };

    void begin(const PollRequest& request, int retries, Framing framing = Framing::Line);
    // The request went out (again): a new try with nothing received; on Modbus TCP with the
    // transaction id it carries.
    void sent(std::int64_t nowUs, std::uint16_t transaction = 0);
    Step received(std::span<const std::uint8_t> chunk, std::int64_t nowUs);
    Step silence();
    Step timeout();
    void cancel() {
        state_ = State::Idle;
        stream_.clear(); // the stream starts again with the next connection
    }

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
    Step receivedAdus(std::span<const std::uint8_t> chunk, std::int64_t nowUs);
    bool broadcast() const { return request_.station == 0; }

    PollRequest request_;
    int retries_ = 0, attempts_ = 0;
    Framing framing_ = Framing::Line;
    std::uint16_t transaction_ = 0;
    mbap::Reassembler stream_;
    std::int64_t pendingSinceUs_ = -1; // the first byte of the ADU not yet whole
    State state_ = State::Idle;
    Tally tally_;
    ReplyCheck check_;
    bool timedOut_ = false;
    std::vector<std::uint8_t> reply_;
    std::int64_t sentUs_ = 0, firstByteUs_ = -1;
};

} // namespace varnok::modbus
