#include "logic/modbus/transaction.h"

#include "logic/monitor/frame_splitter.h"

namespace varnok::modbus {

int frameSilenceMs(const serial::LineSettings& line) {
    return static_cast<int>((monitor::characterGapUs(line) + 999) / 1000);
}

void Transaction::begin(const PollRequest& request, int retries, Framing framing) {
    if (framing != framing_)
        stream_.clear();
    framing_ = framing;
    request_ = request;
    retries_ = retries;
    attempts_ = 0;
    tally_ = {};
    check_ = {};
    timedOut_ = false;
    reply_.clear();
    state_ = State::Waiting;
}

void Transaction::sent(std::int64_t nowUs, std::uint16_t transaction) {
    transaction_ = transaction;
    ++attempts_;
    reply_.clear();
    firstByteUs_ = -1;
    sentUs_ = nowUs;
    state_ = State::Waiting;
}

Transaction::Step Transaction::received(std::span<const std::uint8_t> chunk, std::int64_t nowUs) {
    if ((state_ != State::Waiting && state_ != State::Receiving) || chunk.empty())
        return Step::Wait; // nothing asked for
    if (framing_ == Framing::Mbap)
        return receivedAdus(chunk, nowUs);
    if (reply_.empty())
        firstByteUs_ = nowUs;
    reply_.insert(reply_.end(), chunk.begin(), chunk.end());
    state_ = State::Receiving;
    return judge(false);
}

Transaction::Step Transaction::silence() {
    if (state_ != State::Receiving || framing_ == Framing::Mbap)
        return Step::Wait;
    // Over the network a gap says nothing: a reply of known length waits for its bytes.
    const std::size_t known = knownReplyLength(request_, reply_);
    if (framing_ == Framing::Stream && known >= 5 && reply_.size() < known)
        return Step::Wait;
    return judge(true);
}

Transaction::Step Transaction::timeout() {
    if (state_ == State::Receiving && framing_ == Framing::Mbap) {
        // The header promised more than came: the rest will not follow in order any more.
        check_ = {};
        check_.status = ReplyStatus::ShortReply;
        check_.text = "short reply: the MBAP header gives " + std::to_string(stream_.wanted()) +
                      " bytes, " + std::to_string(stream_.pending()) + " came";
        stream_.clear();
        return failedTry();
    }
    if (state_ == State::Receiving)
        return judge(true); // something came, but not a whole reply: judged as it is
    if (state_ != State::Waiting)
        return Step::Wait;
    if (broadcast()) {
        // Nobody answers a broadcast (a gateway may): its silence is no failure, and a
        // write is never sent twice.
        check_ = {};
        check_.text = "broadcast: no reply expected";
        timedOut_ = true;
        state_ = State::Ended;
        return Step::End;
    }
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

Transaction::Step Transaction::receivedAdus(std::span<const std::uint8_t> chunk,
                                            std::int64_t nowUs) {
    const bool wasPending = stream_.pending() > 0;
    stream_.feed(chunk);
    const std::vector<mbap::Piece> pieces = stream_.take();
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const mbap::Piece& p = pieces[i];
        if (p.kind == mbap::Piece::Kind::Adu && mbap::transactionOf(p.bytes) != transaction_) {
            ++tally_.staleReplies; // a late reply, or a peer that does not echo the id
            continue;
        }
        firstByteUs_ = i == 0 && wasPending && pendingSinceUs_ >= 0 ? pendingSinceUs_ : nowUs;
        state_ = State::Receiving;
        if (p.kind == mbap::Piece::Kind::Adu) {
            reply_ = mbap::rtuFromAdu(p.bytes);
            return judge(true); // whole by its length: nothing more comes for it
        }
        check_ = {};
        check_.status = ReplyStatus::BadHeader;
        const unsigned field = p.bytes.size() >= 6 ? (p.bytes[2] << 8 | p.bytes[3]) : 0;
        check_.text =
            p.kind == mbap::Piece::Kind::Protocol
                ? "protocol id " + std::to_string(field) + " in the MBAP header, not 0"
                : "MBAP header with an impossible length: " + std::to_string(p.bytes.size()) +
                      " bytes dropped";
        return failedTry();
    }
    if (stream_.pending() == 0) {
        pendingSinceUs_ = -1;
    } else {
        if (!wasPending || !pieces.empty())
            pendingSinceUs_ = nowUs;
        state_ = State::Receiving;
    }
    return Step::Wait;
}

Transaction::Step Transaction::judge(bool silent) {
    check_ = checkReply(request_, reply_, silent);
    if (check_.status == ReplyStatus::Incomplete) {
        // Over the network a gap says nothing: a reply of known length waits for its bytes.
        const std::size_t known = knownReplyLength(request_, reply_);
        if (framing_ != Framing::Line && known >= 5 && reply_.size() < known)
            return Step::Wait;
        return Step::WaitSilence;
    }
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
