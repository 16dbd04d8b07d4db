#include "mt/readers/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace vesk1::mt::readers {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::optional<double> Number(std::string_view word) {
  std::string text(word);
  for (char& c : text) {
    if (c == 'D' || c == 'd') c = 'E';
  }
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size()) return {};
  return value;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

void FinishSounding(Sounding& sounding) {
  std::stable_sort(
      sounding.points.begin(), sounding.points.end(),
      [](const MeasuredPoint& a, const MeasuredPoint& b) { return a.period < b.period; });
}

ReadResult Refuse(const Context& context, const Sounding& sounding) {
  return {{},
          context.name + ": no usable frequency" +
              (sounding.leftOut > 0
                   ? " (" + std::to_string(sounding.leftOut) + " left out for missing values)"
                   : std::string())};
}

}  // namespace vesk1::mt::readers
