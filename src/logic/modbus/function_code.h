#pragma once
// The Modbus function codes by name, and the rules several places share about them.
#include <cstdint>

namespace varnok::modbus {

enum class Function : std::uint8_t {
    ReadCoils = 0x01,
    ReadDiscreteInputs = 0x02,
    ReadHoldingRegisters = 0x03,
    ReadInputRegisters = 0x04,
    WriteSingleCoil = 0x05,
    WriteSingleRegister = 0x06,
    ReadExceptionStatus = 0x07,
    Diagnostics = 0x08,
    GetCommEventCounter = 0x0B,
    GetCommEventLog = 0x0C,
    WriteMultipleCoils = 0x0F,
    WriteMultipleRegisters = 0x10,
    ReportServerId = 0x11,
    ReadFileRecord = 0x14,
    WriteFileRecord = 0x15,
    MaskWriteRegister = 0x16,
    ReadWriteMultipleRegisters = 0x17,
    ReadFifoQueue = 0x18,
    EncapsulatedInterface = 0x2B,
};

// A reply's function byte with this bit set is an exception to the function in the low bits.
inline constexpr int kExceptionBit = 0x80;

// Frames and requests carry the code as a plain number; this is that number.
constexpr int code(Function f) {
    return static_cast<int>(f);
}

constexpr bool isException(int functionByte) {
    return (functionByte & kExceptionBit) != 0;
}

// The function a reply answers, exception or not.
constexpr int withoutException(int functionByte) {
    return functionByte & ~kExceptionBit & 0xFF;
}

// 01-04: a read of one of the four tables.
constexpr bool isReadFunction(int function) {
    return function >= code(Function::ReadCoils) && function <= code(Function::ReadInputRegisters);
}

// 01, 02: coils or discrete inputs, packed eight to a byte.
constexpr bool readsBits(int function) {
    return function == code(Function::ReadCoils) || function == code(Function::ReadDiscreteInputs);
}

// 05, 15: values that are coils.
constexpr bool writesBits(int function) {
    return function == code(Function::WriteSingleCoil) ||
           function == code(Function::WriteMultipleCoils);
}

// 05, 06, 15, 16: the writes the poll master builds.
constexpr bool isWriteFunction(int function) {
    return writesBits(function) || function == code(Function::WriteSingleRegister) ||
           function == code(Function::WriteMultipleRegisters);
}

// Whether Modbus defines the code (without the exception bit) as a public function.
constexpr bool isPublicFunction(int function) {
    if (function < 0 || function > 0xFF)
        return false;
    switch (static_cast<Function>(function)) {
    case Function::ReadCoils:
    case Function::ReadDiscreteInputs:
    case Function::ReadHoldingRegisters:
    case Function::ReadInputRegisters:
    case Function::WriteSingleCoil:
    case Function::WriteSingleRegister:
    case Function::ReadExceptionStatus:
    case Function::Diagnostics:
    case Function::GetCommEventCounter:
    case Function::GetCommEventLog:
    case Function::WriteMultipleCoils:
    case Function::WriteMultipleRegisters:
    case Function::ReportServerId:
    case Function::ReadFileRecord:
    case Function::WriteFileRecord:
    case Function::MaskWriteRegister:
    case Function::ReadWriteMultipleRegisters:
    case Function::ReadFifoQueue:
    case Function::EncapsulatedInterface:
        return true;
    default:
        return false;
    }
}

} // namespace varnok::modbus
