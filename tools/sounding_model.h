// The sounding mode's inputs: layered-earth model files and period lists, turned into what the
// sounding module reads.
#ifndef VESK1_TOOLS_SOUNDING_MODEL_H
#define VESK1_TOOLS_SOUNDING_MODEL_H

#include <string>
#include <string_view>
#include <vector>

#include "vesk1/fdll.h"

namespace vesk1::sounding {

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

// The model block the sounding module reads: conductivity 1/resistivity, layer factors 1,
// bottom mode 2 (a half-space basement).
RecurrenceModel ToRecurrenceModel(const LayeredEarth& earth);

struct PeriodsParse {
  std::vector<float> periods;  // seconds
  std::string error;           // empty when valid
};

// "0.01,0.1,1": positive periods in seconds.
PeriodsParse ParsePeriodList(std::string_view list);
// `count` periods spaced evenly in logarithm from `from` to `to`, both included.
PeriodsParse LogSpacedPeriods(double from, double to, long count);

}  // namespace vesk1::sounding

#endif  // VESK1_TOOLS_SOUNDING_MODEL_H
