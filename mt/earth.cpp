#include "mt/earth.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace vesk1::mt {
namespace {

// Longest list the client sends: about four hundred requests.
constexpr long kMaxPeriods = 100000;

// The whole of `word` as a finite number, or nothing.
std::optional<double> Number(std::string_view word) {
  const std::string text(word);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) return {};
  return value;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && std::strchr(" \t\r\v\f", line[at]) != nullptr) ++at;
    const size_t start = at;
    while (at < line.size() && std::strchr(" \t\r\v\f", line[at]) == nullptr) ++at;
    if (at > start) words.push_back(line.substr(start, at - start));
  }
  return words;
}

// A value that must stay a positive finite float32, and its reciprocal too.
bool FitsSingle(double value) {
  const float single = static_cast<float>(value);
  return std::isfinite(single) && single > 0.0f && std::isfinite(1.0f / single) &&
         1.0f / single > 0.0f;
}

ModelParse Fail(int line, const std::string& message) {
  return {{}, "line " + std::to_string(line) + ": " + message};
}

}  // namespace

ModelParse ParseModel(std::string_view text) {
  ModelParse parse;
  int lineNumber = 0;
  int lastLayerLine = 0;
  bool lastHadThickness = false;
  while (!text.empty()) {
    ++lineNumber;
    const size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    line = line.substr(0, line.find('#'));
    const std::vector<std::string_view> words = Words(line);
    if (words.empty()) continue;
    if (words.size() > 2) {
      return Fail(lineNumber, "expected a resistivity and a thickness, found " +
                                  std::to_string(words.size()) + " values");
    }
    if (lastLayerLine != 0 && !lastHadThickness) {
      return Fail(lastLayerLine,
                  "only the last layer, the half-space, may be given without a thickness");
    }
    if (static_cast<int>(parse.earth.resistivity.size()) == kMaxLayers) {
      return Fail(lineNumber, "more than 63 layers");
    }
    const std::optional<double> resistivity = Number(words[0]);
    if (!resistivity || !FitsSingle(*resistivity)) {
      return Fail(lineNumber, "resistivity \"" + std::string(words[0]) +
                                  "\" is not a positive number of ohm-metres");
    }
    parse.earth.resistivity.push_back(*resistivity);
    lastHadThickness = words.size() == 2;
    if (lastHadThickness) {
      const std::optional<double> thickness = Number(words[1]);
      if (!thickness || !FitsSingle(*thickness)) {
        return Fail(lineNumber, "thickness \"" + std::string(words[1]) +
                                    "\" is not a positive number of metres");
      }
      parse.earth.thickness.push_back(*thickness);
    }
    lastLayerLine = lineNumber;
  }
  if (lastLayerLine == 0) return Fail(lineNumber, "no layers: the model needs a half-space");
  if (lastHadThickness) {
    return Fail(lastLayerLine, "the last layer is the half-space below and takes no thickness");
  }
  return parse;
}

PeriodsParse ParsePeriodList(std::string_view list) {
  PeriodsParse parse;
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    const std::string_view word = list.substr(start, comma - start);
    const std::optional<double> period = Number(word);
    if (!period || !FitsSingle(*period)) {
      return {{}, "period \"" + std::string(word) + "\" is not a positive number of seconds"};
    }
    if (static_cast<long>(parse.periods.size()) == kMaxPeriods) {
      return {{}, "more than " + std::to_string(kMaxPeriods) + " periods"};
    }
    parse.periods.push_back(static_cast<float>(*period));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return parse;
}

PeriodsParse LogSpacedPeriods(double from, double to, long count) {
  if (!FitsSingle(from) || !FitsSingle(to)) {
    return {{}, "the period range needs two positive numbers of seconds"};
  }
  if (count < 1 || count > kMaxPeriods) {
    return {{}, "the number of periods must lie between 1 and " + std::to_string(kMaxPeriods)};
  }
  PeriodsParse parse;
  const double step = count > 1 ? std::log(to / from) / static_cast<double>(count - 1) : 0.0;
  for (long i = 0; i < count; ++i) {
    // The ends are given exactly, not as the last step of the product.
    const double period = i == count - 1 ? to : from * std::exp(step * static_cast<double>(i));
    parse.periods.push_back(static_cast<float>(i == 0 ? from : period));
  }
  return parse;
}

}  // namespace vesk1::mt
