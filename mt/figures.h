// The figures, as SVG: a sounding curve, and measured data with error bars over a model's
// curve beside the model against depth. Logarithmic axes are labelled with powers of ten and
// leave a margin around what they show; each meaning has one colour in every panel; legends
// sit above the panels, outside the frames.
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

// The colours of the figures' meanings: a model computed or recovered (and its response), and
// a known model drawn for comparison. Measured points are black, points left out of a fit grey.
inline constexpr const char* kModelColour = "#1f5fa8";
inline constexpr const char* kTrueModelColour = "#b03a2e";

// Two panels over a shared logarithmic period axis: apparent resistivity (log) above, phase
// below, with decade grid lines and labels. Points without values are left out. `title` is
// printed above the plot.
std::string FormatSvg(const std::vector<CurvePoint>& curve, std::string_view title);

// A measured point with its standard errors, drawn as an open marker with error bars: black
// when the fit used it, grey when it was left out.
struct MeasuredMark {
  double period;
  double resistivity, resistivityError;  // ohm-metres
  double phase, phaseError;              // degrees
  bool used = true;
};

// A layered earth drawn as resistivity against depth.
struct DepthModel {
  std::vector<double> resistivity;  // ohm-metres, from the top down, half-space last
  std::vector<double> thickness;    // metres, one per layer above the half-space
  std::string label;
  std::string colour;  // an SVG colour, e.g. kModelColour
};

struct FitPlot {
  std::string title;
  std::vector<MeasuredMark> data;
  std::vector<CurvePoint> curve;  // the model's response, drawn as a line
  std::string curveLabel;
  std::vector<DepthModel> models;  // drawn in a panel beside the curves; none: no such panel
  std::string note;                // a line under the title, such as the misfit
  // The depth of investigation in metres, drawn in the depth panel as a dashed line with the
  // part below it shaded; NaN: none.
  double investigationDepth = std::numeric_limits<double>::quiet_NaN();
  // Where the depth axis ends, in metres; 0: about twice the depth of investigation, without
  // one twice the deepest interface.
  double maxDepth = 0;
};

// The measured points with error bars over the model's curves (apparent resistivity above,
// phase below, logarithmic period axis), and beside them, when models are given, resistivity
// against depth with both axes logarithmic. The resistivity bars span rho / exp(e / rho) to
// rho * exp(e / rho), the length the misfit gives them in log10; the phase axis covers every
// point; a bar beyond the frame ends there without a cap.
std::string FormatFitSvg(const FitPlot& plot);

// The sounding's points with error bars over a model's curve (those the fit leaves out grey),
// and the model against depth.
std::string FitSvg(const Sounding& sounding, const std::vector<CurvePoint>& curve,
                   const LayeredEarth& earth, const std::string& title, const std::string& note);

// The points of a sounding as marks, those the fit leaves out (excluded, out of quadrant) as
// such; a missing point has no values and no mark.
std::vector<MeasuredMark> MarksOf(const Sounding& sounding);

// The last part of a path, after the last '/' or '\': what a figure's title names.
std::string_view FileName(std::string_view path);

}  // namespace vesk1::mt

#endif  // VESK1_MT_FIGURES_H
