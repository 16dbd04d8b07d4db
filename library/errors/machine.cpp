// Machine constants and character codes.
#include <array>
#include <bit>
#include <cstdint>

#include "errors/errors.h"
#include "errors/state.h"
#include "errors/text.h"

namespace vesk1 {
namespace {

constexpr std::array<int32_t, 13> kIntegerConstants = {
    0,           // unused
    32,          // bits per integer
    4,           // characters per integer
    2,           // integer base
    31,          // integer digits in that base
    2147483647,  // largest integer
    2,           // floating-point base
    24,          // single-precision mantissa digits
    -125,        // single-precision smallest exponent
    128,         // single-precision largest exponent
    53,          // double-precision mantissa digits
    -1021,       // double-precision smallest exponent
    1024,        // double-precision largest exponent
};

// Exact bit patterns: the limits sit a little inside the IEEE ones, and entry 6 (the missing
// value) is a large finite number rather than a NaN, so it survives arithmetic tests and copies.
constexpr std::array<double, 9> kDoubleConstants = {
    0.0,
    std::bit_cast<double>(uint64_t{0x001000F33BE6741E}),  // smallest magnitude used
    std::bit_cast<double>(uint64_t{0x7FEFFE1E0B9AB3FC}),  // largest magnitude used
    std::bit_cast<double>(uint64_t{0x3CA000F2B4D5480D}),  // smallest relative spacing
    std::bit_cast<double>(uint64_t{0x3CB000F2B4D5480D}),  // largest relative spacing
    std::bit_cast<double>(uint64_t{0x3FD34413509F79FF}),  // log10(2)
    std::bit_cast<double>(uint64_t{0x47EFFE7F00000000}),  // not-a-number value
    std::bit_cast<double>(uint64_t{0x7FEFFE1E0B9AB3FC}),  // plus machine infinity
    std::bit_cast<double>(uint64_t{0xFFEFFE1E0B9AB3FC}),  // minus machine infinity
};

}  // namespace

int32_t IMACH(int32_t n) {
  if (n >= 1 && n <= 12) return kIntegerConstants[static_cast<size_t>(n)];
  // Written straight to the output unit: the message machinery itself asks for constants.
  int32_t unit = 0;
  UMACH(2, unit);
  char line[40] = " ***          N = ";
  const size_t prefix = std::char_traits<char>::length(line);
  FormatColumn(n, std::span<char>(line + prefix, 6));
  line[prefix + 6] = '.';
  WriteRecord(unit, "");
  WriteRecord(unit, " *** TERMINAL ERROR 5 from IMACH.  The argument");
  WriteRecord(unit, " ***          must be between 1 and 12 inclusive.");
  WriteRecord(unit, std::string_view(line, prefix + 7));
  WriteRecord(unit, "");
  StopProcess();
}

double DMACH(int32_t n) {
  if (n >= 1 && n <= 8) return kDoubleConstants[static_cast<size_t>(n)];
  E1PSH("DMACH");
  StoreIntegerParameter(1, n);
  IssueMessage(kTerminal, 5, "The argument must be between 1 and 8 inclusive. N = %(I1)");
  E1POP("DMACH");
  return kDoubleConstants[6];
}

char ACHAR(int32_t i) {
  if (i >= 0) return static_cast<char>(i & 0xFF);
  E1PSH("ACHAR");
  StoreIntegerParameter(1, i);
  IssueMessage(kTerminal, 1, "The ASCII value must be non-negative while I = %(I1) is given.");
  E1POP("ACHAR");
  return '\0';
}

int32_t UpperCode(char ch) {
  return static_cast<unsigned char>(Upper(ch));
}

bool SameLetter(char ca, char cb) {
  return UpperCode(ca) == static_cast<unsigned char>(cb);
}

bool IsNotANumber(double x) {
  // "x != x" is the unordered case: an IEEE NaN counts as missing too.
  return x == kDoubleConstants[6] || x != x;
}

}  // namespace vesk1
