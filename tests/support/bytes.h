#pragma once
// Bytes and requests as the tests write them. Header only: the pure-logic tests use it too.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <span>

#include "logic/modbus/crc16.h"
#include "logic/modbus/poll_request.h"

namespace varnok::test {

// The bytes of a QByteArray as the logic layer takes them.
inline std::span<const std::uint8_t> span(const QByteArray& a) {
    return {reinterpret_cast<const std::uint8_t*>(a.constData()), std::size_t(a.size())};
}

// A frame given in hexadecimal, its CRC appended as it goes on the wire.
inline QByteArray withCrc(const QByteArray& hex) {
    const QByteArray f = QByteArray::fromHex(hex);
    const auto c =
        modbus::Calc_CRC16(reinterpret_cast<const std::uint8_t*>(f.data()), int(f.size()));
    return f + char(c.hi) + char(c.lo);
}

// "station function address count [values...]", decimal.
inline modbus::PollRequest request(const QString& text) {
    const QStringList f = text.split(u' ');
    modbus::PollRequest r{f[0].toInt(), f[1].toInt(), f[2].toInt(), f[3].toInt(), {}, {}};
    for (qsizetype i = 4; i < f.size(); ++i) {
        r.registers.push_back(std::uint16_t(f[i].toUInt()));
        r.bits.push_back(f[i] != u"0");
    }
    return r;
}

} // namespace varnok::test
