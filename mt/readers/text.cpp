#include "mt/readers/text.h"

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdlib>

namespace vesk1::mt::readers {
namespace {

constexpr double kLeastFrequency = 1e-10, kGreatestFrequency = 1e10;
constexpr double kLargestValue = 1e30, kLeastResistivity = 1e-30;
constexpr double kLargestVariance = 1e60;
constexpr double kFullTurn = 360;

}  // namespace

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string_view WithoutByteOrderMark(std::string_view text) {
  return text.substr(0, 3) == "\xEF\xBB\xBF" ? text.substr(3) : text;
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

std::string ValueProblem(Quantity quantity, double value, std::string_view text) {
  const std::string written(text);
  if (!std::isfinite(value)) return "\"" + written + "\" is not a finite number";
  switch (quantity) {
    case Quantity::kAny:
      break;
    case Quantity::kFrequency:
    case Quantity::kPeriod: {
      const bool frequency = quantity == Quantity::kFrequency;
      const std::string what = (frequency ? "frequency " : "period ") + written;
      if (!(value > 0)) return what + " is not positive";
      if (value < kLeastFrequency || value > kGreatestFrequency) {
        return what + " is outside 1e-10 to 1e10 " + (frequency ? "Hz" : "s");
      }
      break;
    }
    case Quantity::kImpedance:
      if (std::fabs(value) > kLargestValue) {
        return "impedance " + written + " is out of range (magnitude above 1e30)";
      }
      break;
    case Quantity::kVariance:
      if (value < 0) return "variance " + written + " is negative";
      if (value > kLargestVariance) return "variance " + written + " is out of range (above 1e60)";
      break;
    case Quantity::kResistivity:
      if (value < 0) return "apparent resistivity " + written + " is negative";
      if (value > kLargestValue || (value > 0 && value < kLeastResistivity)) {
        return "apparent resistivity " + written + " is outside 1e-30 to 1e30";
      }
      break;
    case Quantity::kError:
      if (value < 0) return "error " + written + " is negative";
      if (value > kLargestValue) return "error " + written + " is out of range (above 1e30)";
      break;
    case Quantity::kPhase:
    case Quantity::kAngle:
      if (std::fabs(value) > kFullTurn) {
        return (quantity == Quantity::kPhase ? "phase " : "angle ") + written +
               " is outside -360 to 360 degrees";
      }
      break;
  }
  return {};
}

bool IsFinitePoint(const MeasuredPoint& p) {
  return std::isfinite(p.period) && p.period > 0 && std::isfinite(p.resistivity) &&
         p.resistivity >= DBL_MIN && std::isfinite(p.phase) && std::isfinite(p.resistivityError) &&
         std::isfinite(p.phaseError);
}

ReadResult Finish(const Context& context, Sounding sounding, const ReadOptions& options) {
  SelectPoints(sounding, options);
  if (sounding.Count(PointStatus::kUsed) > 0) return {std::move(sounding), {}};
  std::string why;
  for (const std::string& phrase : SetAsidePhrases(sounding, options)) {
    why += (why.empty() ? " (" : ", ") + phrase;
  }
  return {{}, context.name + ": no usable frequency" + why + (why.empty() ? "" : ")")};
}

}  // namespace vesk1::mt::readers
