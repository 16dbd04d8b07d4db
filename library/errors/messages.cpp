// Message parameters and templates: the parameter store and the builder of the pending
// message.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "errors/errors.h"
#include "errors/state.h"
#include "errors/text.h"

namespace vesk1 {
namespace {

constexpr int32_t kLiteralLimit = 255;  // characters of a literal parameter that are kept
constexpr std::string_view kKeywordLetters = "ACDIKLRSZ";

void EmptyStore() {
  Reporting().parameters.length = 1;
}

// Appends "*<kind><k>*<length>%<value>" when it fits; a store that is full drops the entry,
// and the keyword that asks for it stays in the message as written.
void AppendEntry(char kind, int32_t k, std::string_view value) {
  ParameterStore& store = Reporting().parameters;
  const auto n = static_cast<int32_t>(value.size());
  if (store.length + n + 8 > kStoreCapacity) return;

  char lengthField[4];
  const auto lengthEnd = std::to_chars(lengthField, lengthField + sizeof lengthField, n).ptr;
  // A length of 1 marks the empty store: the first entry starts at position 1.
  char* out = store.text.data() + (store.length == 1 ? 0 : store.length);
  *out++ = '*';
  *out++ = kind;
  *out++ = static_cast<char>('0' + k);
  *out++ = '*';
  out = std::copy(lengthField, lengthEnd, out);
  *out++ = '%';
  out = std::copy(value.begin(), value.end(), out);
  store.length = static_cast<int32_t>(out - store.text.data());
}

// The value of the first entry with key KIND (either case) and DIGIT, if any. The entries are
// walked one by one, so a literal value that happens to contain a key is never taken for one.
std::optional<std::string_view> FindEntry(char kind, char digit) {
  const ParameterStore& store = Reporting().parameters;
  const std::string_view used(store.text.data(), store.length == 1 ? 0 : store.length);
  size_t at = 0;
  while (at + 4 < used.size()) {
    const size_t separator = used.find('%', at + 4);
    if (separator == std::string_view::npos) break;
    int32_t length = 0;
    TextToInteger(used.substr(at + 4, separator - (at + 4)), length);
    const std::string_view value = used.substr(separator + 1, static_cast<size_t>(length));
    if (used[at + 1] == Upper(kind) && used[at + 2] == digit) return value;
    at = separator + 1 + value.size();
  }
  return std::nullopt;
}

// Expands TEXT into the pending message: ".  ", then the template with every keyword that has a
// stored entry replaced by its value; whatever passes 1024 characters is dropped.
void BuildMessage(std::string_view text) {
  MessageText& message = Reporting().message;
  const size_t n = std::min(text.size(), static_cast<size_t>(kMessageCapacity));
  char* const begin = message.text.data();
  char* const end = begin + kMessageCapacity;
  char* out = std::copy_n(".  ", 3, begin);
  auto append = [&](std::string_view piece) {
    const size_t room = static_cast<size_t>(end - out);
    out = std::copy_n(piece.begin(), std::min(piece.size(), room), out);
  };

  size_t i = 0;
  while (i + 5 <= n && out < end) {
    const bool keyword = text[i] == '%' && text[i + 1] == '(' && text[i + 4] == ')' &&
                         text[i + 3] >= '1' && text[i + 3] <= '9' &&
                         kKeywordLetters.find(Upper(text[i + 2])) != std::string_view::npos;
    if (keyword) {
      if (const auto value = FindEntry(text[i + 2], text[i + 3])) {
        append(*value);
        i += 5;
        continue;
      }
    }
    append(text.substr(i, 1));
    ++i;
  }
  if (i < n) append(text.substr(i, n - i));
  message.length = static_cast<int32_t>(out - begin);
}

// The double in exponent form with 15 digits after the point, as a 24-character field would
// hold it without its leading blanks: -2.500000000000000E-03; a three-digit exponent takes the
// letter's place: 1.000000000000000+300.
int32_t FormatDouble(double value, char* out, size_t size) {
  if (std::isnan(value)) return std::snprintf(out, size, "NaN");
  if (std::isinf(value)) return std::snprintf(out, size, value < 0 ? "-Infinity" : "Infinity");
  int32_t n = std::snprintf(out, size, "%.15E", value);
  char* letter = std::strchr(out, 'E');
  if (letter != nullptr && std::strlen(letter + 2) == 3) {
    std::memmove(letter, letter + 1, std::strlen(letter + 1) + 1);
    --n;
  }
  return n;
}

}  // namespace

void StoreIntegerParameter(int32_t k, int32_t value) {
  InitErrorState();
  if (k < 1 || k > 9) return;
  char digits[12];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  AppendEntry('I', k, std::string_view(digits, static_cast<size_t>(end - digits)));
}

void StoreDoubleParameter(int32_t k, double value) {
  InitErrorState();
  if (k < 1 || k > 9) return;
  char text[40];
  const int32_t n = FormatDouble(value, text, sizeof text);
  AppendEntry('D', k, std::string_view(text, static_cast<size_t>(n)));
}

void StoreLiteralParameter(int32_t k, std::string_view text) {
  InitErrorState();
  if (k < -9 || k > 9 || k == 0) return;
  text = text.substr(0, kLiteralLimit);
  if (k > 0) {
    const size_t last = text.find_last_not_of(' ');
    text = last == std::string_view::npos ? std::string_view(" ") : text.substr(0, last + 1);
  }
  AppendEntry('L', k < 0 ? -k : k, text);
}

void IssueMessage(int32_t itype, int32_t icode, std::string_view text) {
  // Routines push before they issue; initialising here only keeps a stray early call in bounds.
  InitErrorState();
  ErrorReportingState& s = Reporting();
  ErrorState& e = s.errors;
  const int32_t level = e.level;
  if (itype != -1) e.type[level] = itype;
  if (icode >= 0) e.code[level] = icode;
  if (itype == 0 || icode == 0) {
    s.message.length = 0;
    EmptyStore();
    return;
  }
  if (!(text.empty() || text == " ")) BuildMessage(text);

  const int32_t t = e.type[level];
  if (t == kWarningDeferredStop) e.pendingWarning = 1;
  if (t == kFatalDeferredStop) e.pendingFatal = 1;
  if (t < kTerminal) {
    EmptyStore();
    return;
  }
  // Types beyond the table have no attribute of their own; they print, under "UNKNOWN".
  if (t > kErrorTypes || e.print[t] == 1) PrintMessage();
  EmptyStore();
}

}  // namespace vesk1
