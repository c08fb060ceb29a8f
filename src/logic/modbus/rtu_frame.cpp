#include "logic/modbus/rtu_frame.h"

#include "logic/failure.h"
#include "logic/modbus/crc16.h"

namespace varnok::modbus {

RtuFrame Build_RTU_Frame(std::u16string_view text) {
    codec::HexList list = codec::parseHexList(text);
    switch (list.error) {
    case codec::HexListError::NotHex:
        throw TypeMismatch();
    case codec::HexListError::ValueTooBig:
    case codec::HexListError::TooManyValues:
        throw Overflow();
    case codec::HexListError::None:
        break;
    }

    RtuFrame result;
    result.count = static_cast<int>(list.bytes.size());
    result.frame = std::move(list.bytes);
    // The CRC covers every byte before it and closes the frame, register hi first.
    const CrcRegisters crc = Calc_CRC16(result.frame.data(), result.count);
    result.frame.push_back(crc.hi);
    result.frame.push_back(crc.lo);
    return result;
}

} // namespace varnok::modbus
