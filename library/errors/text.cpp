#include "errors/text.h"

#include <algorithm>

namespace vesk1 {

int32_t IntegerToText(int32_t value, std::span<char> field) {
  if (field.empty()) return -1;
  // Digits from the right; int64 so that the most negative value has a magnitude.
  char digits[12];
  int32_t count = 0;
  int64_t magnitude = value < 0 ? -static_cast<int64_t>(value) : value;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[count++] = '-';

  const auto width = static_cast<int32_t>(field.size());
  std::fill(field.begin(), field.end(), ' ');
  const int32_t shown = std::min(count, width);
  for (int32_t i = 0; i < shown; ++i) field[static_cast<size_t>(width - 1 - i)] = digits[i];
  return count - shown;
}

void FormatColumn(int32_t value, std::span<char> field) {
  if (IntegerToText(value, field) > 0) std::fill(field.begin(), field.end(), '*');
}

int32_t FindNoCase(std::string_view text, std::string_view pattern) {
  if (pattern.empty() || text.empty() || pattern.size() > text.size()) return 0;
  for (size_t at = 0; at + pattern.size() <= text.size(); ++at) {
    size_t k = 0;
    while (k < pattern.size() && Upper(text[at + k]) == Upper(pattern[k])) ++k;
    if (k == pattern.size()) return static_cast<int32_t>(at + 1);
  }
  return 0;
}

int32_t CopyIntoField(std::string_view source, int32_t i1, int32_t i2, std::span<char> target,
                      int32_t j1, int32_t j2) {
  if (i1 < 1 || i1 > i2 || i2 > static_cast<int64_t>(source.size()) || j1 < 1 || j1 > j2) {
    return -2;
  }
  if (j2 > static_cast<int64_t>(target.size())) return -1;
  const int32_t sourceLength = i2 - i1 + 1;
  const int32_t fieldLength = j2 - j1 + 1;
  const int32_t copied = std::min(sourceLength, fieldLength);
  std::copy_n(source.begin() + (i1 - 1), copied, target.begin() + (j1 - 1));
  std::fill(target.begin() + (j1 - 1 + copied), target.begin() + j2, ' ');
  return copied - sourceLength;
}

int32_t TextToInteger(std::string_view text, int32_t& value) {
  value = 0;
  if (text.empty()) return -1;
  size_t at = 0;
  while (at < text.size() && text[at] == ' ') ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  int64_t magnitude = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    magnitude = magnitude * 10 + (text[at] - '0');
    if (magnitude > 2147483647) return -2;
    ++at;
  }
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return at == text.size() ? 0 : static_cast<int32_t>(at + 1);
}

}  // namespace vesk1
