#include "logic/modbus/catalogue.h"

#include <initializer_list>
#include <string_view>

namespace varnok::modbus {

namespace {

// Field lines shared by the explanations; index = line number (0 unused).
constexpr std::string_view kLines[] = {
    "",
    "    Byte 0:       Net ID (Station number)",
    "    Byte 1:       FC=01",
    "    Byte 1:       FC=02",
    "    Byte 1:       FC=03",
    "    Byte 1:       FC=04",
    "    Byte 1:       FC=05",
    "    Byte 1:       FC=06",
    "    Byte 1:       FC=0F (hex)",
    "    Byte 1:       FC=10 (hex)",
    "    Byte 2-3:     Reference number",
    "    Byte 4-5:     Bit count",
    "    Byte 4-5:     Word count",
    "    Byte 4-5:     Register value",
    "    Byte 2:       Byte count of response (B=(bit count + 7)/8)",
    "    Byte 2:       Byte count of response (B=2 x word count)",
    "    Byte 3-(B+2): Bit values (least significant is first coil!)",
    "    Byte 3-(B+2): Register values",
    "    Byte 4:       =FF to trun ON coil, =00 to trun OFF coil",
    "    Byte 4:       =FF to trun ON coil, =00 to trun OFF coil (echoed)",
    "    Byte 5:       =00",
    "    Byte 6:       Byte count (B=(bit count + 7)/8)",
    "    Byte 7-(B+6): Data to be written (least significant is first coil!)",
    "    Byte 6:       Byte count (B=2 x word count)",
    "    Byte 7-(B+6): Register values",
};

struct Composition {
    std::initializer_list<int> request;
    std::initializer_list<int> response;
};

const Composition kCompositions[kFunctionCount] = {
    {{1, 2, 10, 11}, {1, 2, 14, 16}},         {{1, 3, 10, 11}, {1, 3, 14, 16}},
    {{1, 4, 10, 12}, {1, 4, 15, 17}},         {{1, 5, 10, 12}, {1, 5, 15, 17}},
    {{1, 6, 10, 18, 20}, {1, 6, 10, 19, 20}}, {{1, 7, 10, 13}, {1, 7, 10, 13}},
    {{1, 8, 10, 11, 21, 22}, {1, 8, 10, 11}}, {{1, 9, 10, 12, 23, 24}, {1, 9, 10, 12}},
};

void appendSection(std::string& out, std::string_view header, std::initializer_list<int> lines) {
    out += header;
    for (int n : lines) {
        out += "\r\n";
        out += kLines[n];
    }
}

} // namespace

const std::array<std::string, kFunctionCount>& functionItems() {
    static const std::array<std::string, kFunctionCount> items = {
        "FC1  Read multi-coils status ( 0xxxx ) for DO",
        "FC2  Read multi-input discrete ( 1xxxx ) for DI",
        "FC3  Read multi-registers ( 4xxxx ) for AO",
        "FC4  Read multi-input registers ( 3xxxx )",
        "FC5  Write single-coil ( 0xxxx ) for DO",
        "FC6  Write single-register ( 4xxxx ) for AO",
        "FC15  Write multi-coils ( 0xxxx ) for DO",
        "FC16  Write multi-registers ( 4xxxx ) for AO",
    };
    return items;
}

std::string functionExplanation(int index) {
    if (index < 0 || index >= kFunctionCount)
        return {};
    const Composition& c = kCompositions[index];
    std::string out;
    appendSection(out, "[Request]", c.request);
    out += "\r\n\r\n";
    appendSection(out, "[Response]", c.response);
    return out;
}

} // namespace varnok::modbus
