// Layered earths as model files give them, and the periods a sounding is computed at.
#ifndef VESK1_MT_EARTH_H
#define VESK1_MT_EARTH_H

#include <string>
#include <string_view>
#include <vector>

namespace vesk1::mt {

// The most layers a model may have, the half-space included: as many as the sounding module's
// model block holds.
inline constexpr int kMaxLayers = 63;

// Layers from the top down; the last is the half-space below and has no thickness.
struct LayeredEarth {
  std::vector<double> resistivity;  // ohm-metres, one per layer, half-space last
  std::vector<double> thickness;    // metres, one per layer above the half-space
};

struct ModelParse {
  LayeredEarth earth;
  std::string error;  // "line N: ..." when the text is not a model, empty otherwise
};

// Reads a model file's text: one layer per line, "resistivity thickness", the last line the
// half-space's resistivity alone. '#' starts a comment; blank lines are skipped. At most 63
// layers, the half-space included.
ModelParse ParseModel(std::string_view text);

struct PeriodsParse {
  std::vector<float> periods;  // seconds
  std::string error;           // empty when valid
};

// "0.01,0.1,1": positive periods in seconds.
PeriodsParse ParsePeriodList(std::string_view list);
// `count` periods spaced evenly in logarithm from `from` to `to`, both included.
PeriodsParse LogSpacedPeriods(double from, double to, long count);

}  // namespace vesk1::mt

#endif  // VESK1_MT_EARTH_H
