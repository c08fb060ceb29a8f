#include "logic/modbus/mbap.h"

#include <algorithm>
#include <utility>

#include "logic/modbus/crc16.h"

namespace varnok::modbus::mbap {

namespace {

std::uint16_t word(std::span<const std::uint8_t> f, std::size_t at) {
    return static_cast<std::uint16_t>((f[at] << 8) | f[at + 1]);
}

void putWord(std::vector<std::uint8_t>& f, unsigned v) {
    f.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    f.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

// A header worth taking as the start of an ADU while looking for one again.
bool plausible(std::span<const std::uint8_t> b) {
    return b.size() >= 6 && word(b, 2) == 0 && aduLength(b) > 0;
}

} // namespace

std::vector<std::uint8_t> buildAdu(std::uint16_t transaction, std::uint8_t unit,
                                   std::span<const std::uint8_t> pdu) {
    std::vector<std::uint8_t> f;
    f.reserve(kHeaderBytes + pdu.size());
    putWord(f, transaction);
    putWord(f, 0);
    putWord(f, static_cast<unsigned>(pdu.size() + 1));
    f.push_back(unit);
    f.insert(f.end(), pdu.begin(), pdu.end());
    return f;
}

std::vector<std::uint8_t> aduFromRtu(std::uint16_t transaction, std::span<const std::uint8_t> rtu) {
    if (rtu.size() < 4)
        return {};
    return buildAdu(transaction, rtu[0], rtu.subspan(1, rtu.size() - 3));
}

std::vector<std::uint8_t> rtuFromAdu(std::span<const std::uint8_t> adu) {
    if (adu.size() < kHeaderBytes + 1)
        return {};
    std::vector<std::uint8_t> f(adu.begin() + 6, adu.end());
    const CrcRegisters crc = Calc_CRC16(f.data(), static_cast<int>(f.size()));
    f.push_back(crc.hi);
    f.push_back(crc.lo);
    return f;
}

std::ptrdiff_t aduLength(std::span<const std::uint8_t> head) {
    if (head.size() < 6)
        return 0;
    const int length = word(head, 4);
    if (length < kMinLength || length > kMaxLength)
        return -1;
    return 6 + length;
}

std::uint16_t transactionOf(std::span<const std::uint8_t> adu) {
    return adu.size() < 2 ? 0 : word(adu, 0);
}

std::size_t Reassembler::wanted() const {
    const std::ptrdiff_t n = aduLength(buffer_);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void Reassembler::feed(std::span<const std::uint8_t> chunk) {
    buffer_.insert(buffer_.end(), chunk.begin(), chunk.end());
    std::size_t at = 0;
    std::vector<std::uint8_t> garbage;
    const auto endGarbage = [&] {
        if (!garbage.empty())
            done_.push_back({Piece::Kind::Garbage, std::move(garbage)});
        garbage.clear();
    };
    for (;;) {
        const std::span<const std::uint8_t> rest(buffer_.data() + at, buffer_.size() - at);
        const std::ptrdiff_t length = aduLength(rest);
        // Looking for a header again: a byte goes while the front is no possible header.
        if (!garbage.empty() && rest.size() >= 6 && !plausible(rest)) {
            garbage.push_back(rest[0]);
            ++at;
            continue;
        }
        if (length < 0) {
            garbage.push_back(rest[0]);
            ++at;
            continue;
        }
        endGarbage();
        if (length == 0 || rest.size() < static_cast<std::size_t>(length))
            break;
        const auto adu = rest.first(static_cast<std::size_t>(length));
        done_.push_back({word(adu, 2) == 0 ? Piece::Kind::Adu : Piece::Kind::Protocol,
                         {adu.begin(), adu.end()}});
        at += adu.size();
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(at));
}

std::vector<Piece> Reassembler::take() {
    return std::exchange(done_, {});
}

} // namespace varnok::modbus::mbap
