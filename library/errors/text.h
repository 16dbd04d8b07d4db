// Small text operations of the message builder and printer. Positions are counted from 1, as
// in the messages' own descriptions, and 0 means "not found".
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vesk1 {

// C with an ASCII lower-case letter made upper case; every other character as it is, whatever
// the host's locale.
inline char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Writes VALUE right-justified in FIELD (its size is the width), blank-filled on the left.
// Returns 0 when it fitted, -1 for an empty field, otherwise the number of characters (digits
// and sign) that did not fit; then FIELD holds the rightmost characters that did.
int32_t IntegerToText(int32_t value, std::span<char> field);

// Writes VALUE right-justified in FIELD like IntegerToText, or fills FIELD with "*" when the
// value does not fit: the column convention of the printed tables.
void FormatColumn(int32_t value, std::span<char> field);

// The first position of PATTERN in TEXT, letters compared without case; 0 when PATTERN or
// TEXT is empty, PATTERN is longer than TEXT, or it does not occur.
int32_t FindNoCase(std::string_view text, std::string_view pattern);

// Copies SOURCE(I1:I2) into TARGET(J1:J2), cutting the source to the field or blank-filling
// the rest of the field. Returns -2 for a bad range (I1 < 1, I1 > I2, I2 beyond SOURCE, J1 < 1
// or J1 > J2), -1 when J2 is beyond TARGET (nothing copied in either case), otherwise 0 when all
// of the source was copied or minus the number of source characters cut.
int32_t CopyIntoField(std::string_view source, int32_t i1, int32_t i2, std::span<char> target,
                      int32_t j1, int32_t j2);

// Reads an optionally signed decimal integer from TEXT after leading blanks into VALUE.
// Returns 0 when the number runs to the end of TEXT, otherwise the position of the first
// character after it; -1 for an empty TEXT; -2 when the magnitude exceeds 2147483647.
int32_t TextToInteger(std::string_view text, int32_t& value);

}  // namespace vesk1
