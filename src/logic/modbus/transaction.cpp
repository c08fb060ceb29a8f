#include "logic/modbus/transaction.h"

#include "logic/monitor/frame_splitter.h"

namespace varnok::modbus {

int frameSilenceMs(const serial::LineSettings& line) {
    return static_cast<int>((monitor::characterGapUs(line) + 999) / 1000);
}

void Transaction::begin(const PollRequest& request, int retries) {
    request_ = request;
    retries_ = retries;
    attempts_ = 0;
    tally_ = {};
    check_ = {};
    timedOut_ = false;
    reply_.clear();
    state_ = State::Waiting;
}

void Transaction::sent(std::int64_t nowUs) {
    ++attempts_;
    reply_.clear();
    firstByteUs_ = -1;
    sentUs_ = nowUs;
    state_ = State::Waiting;
}

Transaction::Step Transaction::received(std::span<const std::uint8_t> chunk, std::int64_t nowUs) {
    if ((state_ != State::Waiting && state_ != State::Receiving) || chunk.empty())
        return Step::Wait; // nothing asked for
    if (reply_.empty())
        firstByteUs_ = nowUs;
    reply_.insert(reply_.end(), chunk.begin(), chunk.end());
    state_ = State::Receiving;
    return judge(false);
}

Transaction::Step Transaction::silence() {
    return state_ == State::Receiving ? judge(true) : Step::Wait;
}

Transaction::Step Transaction::timeout() {
    if (state_ == State::Receiving)
        return judge(true); // something came, but not a whole reply: judged as it is
    if (state_ != State::Waiting)
        return Step::Wait;
    ++tally_.timeouts;
    if (attempts_ <= retries_)
        return Step::SendAgain;
    check_ = {};
    check_.text = "timeout";
    timedOut_ = true;
    state_ = State::Ended;
    return Step::End;
}

bool Transaction::answered() const {
    return check_.status == ReplyStatus::Ok || check_.status == ReplyStatus::Exception;
}

std::int64_t Transaction::responseUs() const {
    return firstByteUs_ >= 0 && !timedOut_ ? firstByteUs_ - sentUs_ : -1;
}

Transaction::Step Transaction::judge(bool silent) {
    check_ = checkReply(request_, reply_, silent);
    if (check_.status == ReplyStatus::Incomplete)
        return Step::WaitSilence;
    if (answered()) {
        state_ = State::Ended;
        return Step::End;
    }
    return failedTry();
}

// A garbled reply counts, and is tried again while retries are left (an exception never is).
Transaction::Step Transaction::failedTry() {
    if (check_.status == ReplyStatus::BadCrc)
        ++tally_.crcErrors;
    else
        ++tally_.otherErrors;
    if (attempts_ <= retries_)
        return Step::SendAgain;
    state_ = State::Ended;
    return Step::End;
}

} // namespace varnok::modbus
