#pragma once
// What one press of the send button puts on the line, and how it counts.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "logic/codec/hex_list.h"
#include "logic/failure.h"

namespace varnok::codec {

// End-of-string choice, in the order of the option buttons "None" .. "Def".
enum class EndOfString { None, CR, LF, LFCR, CRLF, Def };

// The characters a choice appends to the send text (empty for None and Def).
std::u16string_view endOfStringChars(EndOfString eos);

// The "Def" field has a pair (or last single character) that is not hexadecimal digits.
class DefFieldFailure : public Failure {
  public:
    DefFieldFailure() : Failure(1001, "Don't use space in \"Def\" field !!") {}
};

// ASCII mode: a character that has no single byte in Latin-1 (never sent as a substitute).
// description() is UTF-8 and names the character and its code point; character() is the code
// point (a surrogate pair counts as one).
class UnencodableCharacter : public Failure {
  public:
    explicit UnencodableCharacter(char32_t ch);
    char32_t character() const noexcept { return ch_; }

  private:
    char32_t ch_;
};

// Decodes the "Def" text: pairs of hex digits, an odd last digit alone ("ABC" -> AB 0C).
// Throws DefFieldFailure.
std::vector<std::uint8_t> decodeDefField(std::u16string_view defText);

struct SendEncoding {
    std::u16string sendData;        // the send text plus end-of-string characters (Send_Data)
    std::int32_t countedLength = 0; // SendStrNum after counting; the total grows by this
    std::int32_t shownCount = 0;    // SendStrNum once the send is done (binary mode differs)
    std::vector<std::vector<std::uint8_t>> writes; // 0, 1 or 2 writes, in order
    // A binary list that does not parse: the counters still apply, nothing is written, and the
    // caller reports it. None when the send goes out.
    HexListError listError = HexListError::None;
};

// Pure encoding of one send. Throws DefFieldFailure and UnencodableCharacter before anything
// counts. Text is UTF-16 as typed; the send text's line breaks are sent as they stand.
SendEncoding encodeSend(bool asciiMode, std::u16string_view text, EndOfString eos,
                        std::u16string_view defText);

// Adds a send count to a counter box's text. A text that is not a whole number, or a sum past
// the largest signed 32-bit value, restarts the total from the count. Accepted: blanks and
// tabs around an optional + or - and ASCII digits; an empty box counts as not a number.
std::int32_t addToCounter(std::u16string_view counterText, std::int32_t count);

} // namespace varnok::codec
