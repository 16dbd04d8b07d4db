// The figures, as SVG: a sounding curve, and measured data with error bars over a model's
// curve beside the model against depth.
#ifndef VESK1_MT_FIGURES_H
#define VESK1_MT_FIGURES_H

#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "mt/curve.h"
#include "mt/earth.h"
#include "mt/sounding.h"

namespace vesk1::mt {

// Two panels over a shared logarithmic period axis: apparent resistivity (log) above, phase
// (0 to 90 degrees) below, with decade grid lines and labels. Points without values are left
// out. `title` is printed above the plot.
std::string FormatSvg(const std::vector<CurvePoint>& curve, std::string_view title);

// A measured point with its standard errors, drawn as a dot with error bars.
struct MeasuredMark {
  double period;
  double resistivity, resistivityError;  // ohm-metres
  double phase, phaseError;              // degrees
};

// A layered earth drawn as resistivity against depth.
struct DepthModel {
  std::vector<double> resistivity;  // ohm-metres, from the top down, half-space last
  std::vector<double> thickness;    // metres, one per layer above the half-space
  std::string label;
  std::string colour;  // an SVG colour, e.g. "#1f5fa8"
};

struct FitPlot {
  std::string title;
  std::vector<MeasuredMark> data;
  std::vector<CurvePoint> curve;  // the model's response, drawn as a line
  std::string curveLabel;
  std::vector<DepthModel> models;  // drawn in a panel beside the curves; none: no such panel
  std::string note;                // a line under the title, such as the misfit
  // The depth of investigation in metres, drawn in the depth panel as a line with the part
  // below it shaded; NaN: none.
  double investigationDepth = std::numeric_limits<double>::quiet_NaN();
  // Where the depth axis ends, in metres; 0: about twice the depth of investigation, without
  // one twice the deepest interface.
  double maxDepth = 0;
};

// The measured points with error bars over the model's curves (apparent resistivity above,
// phase below, logarithmic period axis), and beside them, when models are given, resistivity
// against depth with both axes logarithmic.
std::string FormatFitSvg(const FitPlot& plot);

// The measured points with error bars over a model's curve, and the model against depth.
std::string FitSvg(const Sounding& sounding, const std::vector<CurvePoint>& curve,
                   const LayeredEarth& earth, const std::string& title, const std::string& note);

}  // namespace vesk1::mt

#endif  // VESK1_MT_FIGURES_H
