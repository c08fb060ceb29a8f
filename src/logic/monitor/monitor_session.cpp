#include "logic/monitor/monitor_session.h"

#include "logic/modbus/function_code.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace varnok::monitor {

namespace {

std::string msText(double us, int decimals) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, us / 1000.0);
    return buf;
}

} // namespace

std::string countsText(const TrafficCounts& c) {
    std::string text = "Requests " + std::to_string(c.requests) + "   Replies " +
                       std::to_string(c.replies) + "   Timeouts " + std::to_string(c.timeouts) +
                       "   Unpaired " + std::to_string(c.unpaired) + "   CRC errors " +
                       std::to_string(c.crcErrors) + "   Exceptions " +
                       std::to_string(c.exceptions) + "   Response ";
    if (c.replies == 0)
        return text + "-";
    return text + "min " + msText(double(c.minUs), 2) + " / mean " + msText(c.meanUs, 2) +
           " / p99 " + msText(double(c.p99Us), 2) + " / max " + msText(double(c.maxUs), 2) + " ms";
}

MonitorSession::MonitorSession() : splitter_(frameGapUs(line_, 0)) {}

void MonitorSession::setLine(const serial::LineSettings& line) {
    line_ = line;
    splitter_.setGapUs(frameGapUs(line_, userGapUs_));
}

void MonitorSession::setUserGapUs(std::int64_t us) {
    userGapUs_ = std::max<std::int64_t>(us, 0);
    splitter_.setGapUs(frameGapUs(line_, userGapUs_));
}

void MonitorSession::setTimeoutUs(std::int64_t us) {
    timeoutUs_ = us;
    splitter_.setStallUs(us); // a frame short of its length waits as long as a reply would
}

void MonitorSession::setFraming(modbus::Framing framing) {
    splitter_.setFraming(framing);
}

std::string MonitorSession::gapText() const {
    const std::string silence = frameGapText(line_, userGapUs_);
    switch (splitter_.framing()) {
    case modbus::Framing::Line:
        return "RX frame ends by its Modbus length with a good CRC; any other: " + silence;
    case modbus::Framing::Stream:
        return "RX frame ends by its Modbus length; one without a known length: " + silence;
    case modbus::Framing::Mbap:
        return "RX frame ends by its MBAP length field; one without a possible length: " + silence;
    }
    return silence;
}

void MonitorSession::setDecoding(bool on) {
    decoding_ = on;
    // Its end would go unseen: the request leaves the count, which stays whole.
    if (waitingSinceUs_) {
        --counts_.requests;
        stations_.withdraw(waitingStation_);
    }
    waitingSinceUs_.reset();
}

void MonitorSession::setListening(bool on) {
    splitter_.setListening(on);
}

std::vector<SessionFrame> MonitorSession::feed(std::int64_t timeUs, std::int64_t wallMs,
                                               Direction direction,
                                               std::span<const std::uint8_t> bytes) {
    std::vector<SessionFrame> done;
    feed(timeUs, wallMs, direction, bytes, done);
    return done;
}

void MonitorSession::feed(std::int64_t timeUs, std::int64_t wallMs, Direction direction,
                          std::span<const std::uint8_t> bytes, std::vector<SessionFrame>& frames) {
    for (SessionFrame& f : frames)
        splitter_.recycle(std::move(f.frame.bytes));
    frames.clear();
    split_.clear();
    splitter_.feed(timeUs, wallMs, direction, bytes, split_);
    for (Frame& f : split_)
        frames.push_back(finish(std::move(f)));
}

std::vector<SessionFrame> MonitorSession::advance(std::int64_t nowUs) {
    std::vector<SessionFrame> done;
    while (std::optional<Frame> f = splitter_.flush(nowUs))
        done.push_back(finish(std::move(*f)));
    // A reply that is arriving decides by its first byte once it is whole.
    if (!splitter_.hasOpenFrame())
        expireRequest(nowUs);
    return done;
}

std::vector<SessionFrame> MonitorSession::endLine() {
    // A "now" far past any gap: nothing more can arrive for the open frame.
    std::vector<SessionFrame> done;
    while (std::optional<Frame> f = splitter_.flush(std::numeric_limits<std::int64_t>::max() / 2))
        done.push_back(finish(std::move(*f)));
    modbusSeen_ = false; // the next opening may reach another device
    directionsHeard_ = 0;
    return done;
}

std::optional<std::int64_t> MonitorSession::nextDeadlineUs() const {
    if (splitter_.hasOpenFrame())
        return splitter_.openDeadlineUs();
    if (waitingSinceUs_)
        return *waitingSinceUs_ + timeoutUs_ + 1; // a timeout is a wait longer than it
    return std::nullopt;
}

SessionFrame MonitorSession::finish(Frame frame) {
    SessionFrame done;
    done.gapUs = lastEndUs_ ? frame.firstUs - *lastEndUs_ : -1;
    lastEndUs_ = frame.lastUs;
    if (decoding_) {
        const Role role = listening() ? judge(frame) : Role::Other;
        const bool tx = listening() ? role == Role::Request : frame.direction == Direction::Tx;
        // A piece is not decoded, so it is no CRC error, but it still answers a request.
        Decoded d;
        d.crcOk = true;
        if (!frame.piece)
            d = splitter_.framing() == modbus::Framing::Mbap ? decodeMbap(frame.bytes, tx)
                                                             : decodeRtu(frame.bytes, tx);
        // A line that has carried no Modbus yet (a text console) is shown as it is: every
        // frame of it would be a CRC error.
        if (!modbusSeen_ &&
            (frame.piece || d.tooShort || !d.crcOk || d.kind == FrameKind::Unknown)) {
            done.note = SessionFrame::kBeforeModbusText;
            done.frame = std::move(frame);
            return done;
        }
        modbusSeen_ = true;
        const std::optional<std::int64_t> responseUs =
            listening() ? countHeard(frame, d, role) : count(frame, d);
        if (frame.piece && !responseUs)
            done.note = SessionFrame::kPieceText;
        else
            done.decoded = frame.piece ? std::string(SessionFrame::kPieceText) : summary(d);
        if (responseUs)
            done.decoded += " · response " + msText(double(*responseUs), 3) + " ms";
        done.flagged = !d.tooShort && (!d.crcOk || d.kind == FrameKind::Exception);
    }
    done.frame = std::move(frame);
    return done;
}

std::optional<std::int64_t> MonitorSession::count(const Frame& frame, const Decoded& d) {
    // Too short to be a frame at all: it neither asks, answers nor fails a check.
    if (d.tooShort)
        return std::nullopt;
    const bool tx = frame.direction == Direction::Tx;
    if (tx) {
        timeOut(); // the next request went out before a reply came
        // A broadcast through a gateway: nobody owes a reply, so it asks for none.
        if (d.transaction && d.station == 0 && d.crcOk) {
            stations_.seen(0, d.function);
            stations_.request(0);
            return std::nullopt;
        }
        ++counts_.requests;
        stations_.request(d.station);
    } else {
        expireRequest(frame.firstUs);
    }
    // Nothing in a frame with a wrong CRC can be trusted, not even whether it answers: a
    // request no device takes, or a reply that ends its request without answering it.
    if (!d.crcOk) {
        if (tx || waitingSinceUs_) {
            ++counts_.crcErrors;
            stations_.crcError(tx ? d.station : waitingStation_);
        } else {
            ++counts_.unpaired;
        }
        waitingSinceUs_.reset();
        return std::nullopt;
    }
    stations_.seen(d.station, d.function);
    if (tx) {
        wait(frame, d);
        return std::nullopt;
    }
    if (d.kind == FrameKind::Exception) {
        ++counts_.exceptions;
        stations_.exception(d.station);
    }
    // On Modbus TCP a reply answers the request of its own id only (a late one answers none).
    if (!waitingSinceUs_ || d.transaction != waitingTransaction_) {
        ++counts_.unpaired;
        return std::nullopt;
    }
    const std::int64_t responseUs = frame.firstUs - *waitingSinceUs_;
    waitingSinceUs_.reset();
    ++counts_.replies;
    times_.add(responseUs);
    stations_.reply(waitingStation_, responseUs);
    return responseUs;
}

void MonitorSession::wait(const Frame& frame, const Decoded& d) {
    waitingSinceUs_ = frame.lastUs;
    waitingTransaction_ = d.transaction;
    waitingStation_ = d.station;
    waitingFunction_ = d.function;
    waitingDirection_ = frame.direction;
}

MonitorSession::Role MonitorSession::judge(const Frame& frame) {
    directionsHeard_ |= 1U << unsigned(frame.direction);
    expireRequest(frame.firstUs); // a request already timed out is answered by nothing
    if (frame.piece)
        return Role::Other;
    const bool mbap = splitter_.framing() == modbus::Framing::Mbap;
    std::vector<std::uint8_t> unwrapped;
    std::span<const std::uint8_t> b = frame.bytes;
    if (mbap) {
        unwrapped = modbus::mbap::rtuFromAdu(frame.bytes);
        b = unwrapped;
    }
    if (b.size() < 4)
        return Role::Other;
    const auto n = static_cast<std::ptrdiff_t>(b.size());
    // Two directions heard: a tap or a bridge, where a reply comes from the other side.
    const bool twoSides = (directionsHeard_ & (directionsHeard_ - 1)) != 0;
    if (waitingSinceUs_ && b[0] == waitingStation_ &&
        modbus::withoutException(b[1]) == waitingFunction_ && rtuReplyLength(b) == n &&
        (!twoSides || frame.direction != waitingDirection_) &&
        (!mbap || (frame.bytes[0] << 8 | frame.bytes[1]) == waitingTransaction_))
        return Role::Reply;
    return rtuRequestLength(b) == n ? Role::Request : Role::Other;
}

std::optional<std::int64_t> MonitorSession::countHeard(const Frame& frame, const Decoded& d,
                                                       Role role) {
    if (d.tooShort)
        return std::nullopt;
    switch (role) {
    case Role::Request:
        timeOut(); // the bus moved on: nothing answers the request before it any more
        stations_.request(d.station);
        if (!d.crcOk) {
            ++counts_.requests;
            ++counts_.crcErrors;
            stations_.crcError(d.station);
            return std::nullopt;
        }
        stations_.seen(d.station, d.function);
        if (d.station == 0) // a broadcast: nobody owes a reply
            return std::nullopt;
        ++counts_.requests;
        wait(frame, d);
        return std::nullopt;
    case Role::Reply: {
        const std::int64_t responseUs = frame.firstUs - *waitingSinceUs_;
        waitingSinceUs_.reset();
        if (!d.crcOk) {
            ++counts_.crcErrors;
            stations_.crcError(waitingStation_);
            return std::nullopt;
        }
        stations_.seen(d.station, d.function);
        if (d.kind == FrameKind::Exception) {
            ++counts_.exceptions;
            stations_.exception(d.station);
        }
        ++counts_.replies;
        times_.add(responseUs);
        stations_.reply(waitingStation_, responseUs);
        return responseUs;
    }
    case Role::Other:
        break;
    }
    ++counts_.unpaired;
    if (d.crcOk && d.kind == FrameKind::Exception) {
        ++counts_.exceptions;
        stations_.exception(d.station);
    }
    return std::nullopt;
}

void MonitorSession::timeOut() {
    if (waitingSinceUs_) {
        ++counts_.timeouts;
        stations_.timeout(waitingStation_);
    }
    waitingSinceUs_.reset();
}

void MonitorSession::expireRequest(std::int64_t nowUs) {
    if (waitingSinceUs_ && nowUs - *waitingSinceUs_ > timeoutUs_)
        timeOut();
}

TrafficCounts MonitorSession::counts() const {
    TrafficCounts c = counts_;
    c.waiting = waitingSinceUs_ ? 1 : 0;
    if (times_.count() == 0)
        return c;
    c.minUs = times_.minUs();
    c.meanUs = times_.meanUs();
    c.p99Us = times_.p99Us();
    c.maxUs = times_.maxUs();
    return c;
}

void MonitorSession::resetStats() {
    waitingSinceUs_.reset();
    counts_ = {};
    times_.reset();
    stations_.reset();
}

} // namespace varnok::monitor
