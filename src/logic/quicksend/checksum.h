#pragma once
// The checksums a stored send can append after its data, as they go on the wire.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace varnok::quicksend {

enum class Checksum { None, ModbusCrc16, CrcCcittFalse, CrcXmodem, Crc32, Lrc, Xor, Sum };

struct ChecksumInfo {
    Checksum kind;
    std::string_view key;    // the name in a saved file
    std::string_view label;  // the name shown to the user
    std::string_view covers; // what it is, in one line
};

// Every checksum, in the order the user is offered them.
const std::array<ChecksumInfo, 8>& checksumCatalogue();
const ChecksumInfo& checksumInfo(Checksum kind);

// The checksum of `data`, in the byte order it is sent in (None: nothing).
std::vector<std::uint8_t> checksumOf(Checksum kind, std::span<const std::uint8_t> data);

} // namespace varnok::quicksend
