// The sounding mode's outputs: an aligned table, CSV and an SVG plot of the curve.
#ifndef VESK1_TOOLS_SOUNDING_OUTPUT_H
#define VESK1_TOOLS_SOUNDING_OUTPUT_H

#include <string>
#include <string_view>
#include <vector>

namespace vesk1::sounding {

struct CurvePoint {
  double period;       // seconds
  double resistivity;  // apparent resistivity, ohm-metres; NaN where the module gave none
  double phase;        // degrees; NaN where the module gave none
};

// Columns right-aligned under a header line; NaN shows as "nan".
std::string FormatTable(const std::vector<CurvePoint>& curve);
// A header line, then one line per point, values with nine significant digits.
std::string FormatCsv(const std::vector<CurvePoint>& curve);
// Two panels over a shared logarithmic period axis: apparent resistivity (log) above, phase
// (0 to 90 degrees) below, with decade grid lines and labels. Points without values are left
// out. `title` is printed above the plot.
std::string FormatSvg(const std::vector<CurvePoint>& curve, std::string_view title);

}  // namespace vesk1::sounding

#endif  // VESK1_TOOLS_SOUNDING_OUTPUT_H
