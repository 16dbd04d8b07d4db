// The pieces every figure of mt/ is drawn with, so that all of them follow one set of
// conventions: logarithmic axes labelled with powers of ten and a margin around what they
// show, open markers with error bars for measured points (black when fitted, grey when left
// out), legends above the panels and outside their frames.
#ifndef VESK1_MT_SVG_H
#define VESK1_MT_SVG_H

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "mt/figures.h"

namespace vesk1::mt::svg {

inline constexpr const char* kMeasuredColour = "#000000";
inline constexpr const char* kLeftOutColour = "#9a9a9a";
inline constexpr const char* kGrid = "stroke=\"#d0d0d0\" stroke-width=\"1\"";
inline constexpr const char* kText = "font-family=\"sans-serif\" font-size=\"12\" fill=\"#202020\"";
// Rows of a legend lie this far apart.
inline constexpr double kLegendRow = 18;

// Text with the characters XML gives a meaning escaped, and control characters blanked.
std::string Escaped(std::string_view text);
// A whole number with a typographic minus sign.
std::string Signed(long value);
// 10 with the exponent raised: the label of a decade.
std::string PowerOfTen(int exponent);

// The log10 bounds of an axis showing [low, high] with a margin, holding at least two whole
// decades to label.
void LogAxisAround(double low, double high, double& from, double& to);
// The phase axis's grid step and bounds: whole steps covering [low, high] and 0 to 90, at most
// eight of them.
double PhaseAxisAround(double low, double high, double& from, double& to);

// Plot area of one panel and the mapping of values onto it: x logarithmic, y logarithmic or
// linear. yHigh maps to the top, so a depth axis growing downwards has yHigh < yLow.
struct Panel {
  double left, top, width, height;
  double xLow, xHigh;  // log10 of the x range (periods, resistivities)
  double yLow, yHigh;  // log10 of the y range, or its values when linear
  bool logY;

  double X(double x) const { return left + width * (std::log10(x) - xLow) / (xHigh - xLow); }
  double Y(double value) const {
    const double v = logY ? std::log10(value) : value;
    return top + height * (yHigh - v) / (yHigh - yLow);
  }
  double Bottom() const { return top + height; }
};

std::string Line(double x1, double y1, double x2, double y2, const std::string& colour,
                 double width, const char* extra = "");
std::string Label(double x, double y, const char* anchor, const std::string& text);
std::string Frame(double left, double top, double width, double height, const char* name);
// A title along a vertical axis, centred at (x, y).
std::string AxisTitle(double x, double y, const char* text);
// The document's start: size, white background and the title centred at `titleX`.
std::string SvgOpening(double width, double height, double titleX, std::string_view title);

// One entry of a legend: its sample and its text.
struct LegendEntry {
  enum Sample { kLine, kDashedLine, kOpenMarker, kBox } sample;
  std::string colour;
  std::string text;
};
// The rows a legend takes across `width`.
int LegendRows(const std::vector<LegendEntry>& entries, double width);
// Draws a legend from (left, y) across `width`, entry after entry, wrapping into rows.
void DrawLegend(std::string& svg, double left, double y, double width,
                const std::vector<LegendEntry>& entries);

// Frame, grid and labels of a panel over the period axis: decades of period (labelled under
// the panel when `periodLabels`), and decades of resistivity or steps of phase.
void DrawAxes(std::string& svg, const Panel& panel, bool resistivity, double phaseStep,
              const char* axisTitle, bool periodLabels);

// The measured points as open markers with their error bars; a bar that leaves the frame ends
// at it without a cap. The axes cover the points the fit used; one it left out that lies
// beyond is marked at the frame.
void DrawMarks(std::string& svg, const Panel& panel, const std::vector<MeasuredMark>& data,
               bool resistivity);

}  // namespace vesk1::mt::svg

#endif  // VESK1_MT_SVG_H
