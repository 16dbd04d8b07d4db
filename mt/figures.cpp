#include "mt/figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "mt/format.h"

namespace vesk1::mt {
namespace {

constexpr const char* kMeasuredColour = "#000000";
constexpr const char* kLeftOutColour = "#9a9a9a";
constexpr const char* kInvestigationColour = "#404040";
constexpr const char* kGrid = "stroke=\"#d0d0d0\" stroke-width=\"1\"";
constexpr const char* kText = "font-family=\"sans-serif\" font-size=\"12\" fill=\"#202020\"";
// A logarithmic axis reaches this share of its span (at least the least margin, in decades)
// beyond the values it shows, so none lies on the frame.
constexpr double kMarginShare = 0.08, kLeastMargin = 0.1;
// The phase axis: at least 0 to 90 degrees, in whole grid steps, this many degrees beyond the
// values.
constexpr double kPhaseMargin = 2;
// Legends: rows this far apart, and the width of a character of the legend's text, estimated.
constexpr double kLegendRow = 18, kCharWidth = 6.6;
constexpr double kRadius = 3;

bool HasValues(const CurvePoint& p) {
  return std::isfinite(p.period) && p.period > 0 && std::isfinite(p.resistivity) &&
         p.resistivity > 0 && std::isfinite(p.phase);
}

std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // Control characters other than tab are not allowed in XML 1.0.
        out += static_cast<unsigned char>(c) < 0x20 && c != '\t' ? ' ' : c;
    }
  }
  return out;
}

// A number with a typographic minus sign.
std::string Signed(long value) {
  return (value < 0 ? "\u2212" : "") + std::to_string(value < 0 ? -value : value);
}

// 10 with the exponent raised: the label of a decade.
std::string PowerOfTen(int exponent) {
  return "10<tspan dy=\"-6\" font-size=\"9\">" + Signed(exponent) + "</tspan>";
}

// The log10 bounds of an axis showing [low, high] with a margin, holding at least two whole
// decades to label.
void LogAxisAround(double low, double high, double& from, double& to) {
  if (!(low > 0 && low <= high && std::isfinite(high))) {
    from = 0, to = 1;
    return;
  }
  from = std::log10(low);
  to = std::log10(high);
  const double margin = std::max(kMarginShare * (to - from), kLeastMargin);
  from -= margin;
  to += margin;
  if (std::floor(to) - std::ceil(from) < 1) {
    from = std::floor(from);
    to = std::max(std::ceil(to), from + 1);
  }
}

// The phase axis's grid step and bounds: whole steps covering [low, high] and 0 to 90, at most
// eight of them.
double PhaseAxisAround(double low, double high, double& from, double& to) {
  const bool any = low <= high;
  const double span = any ? std::max(high, 90.0) - std::min(low, 0.0) + 2 * kPhaseMargin : 90;
  const double step = span <= 120 ? 15 : span <= 240 ? 30 : 45;
  from = any ? std::min(0.0, step * std::floor((low - kPhaseMargin) / step)) : 0;
  to = any ? std::max(90.0, step * std::ceil((high + kPhaseMargin) / step)) : 90;
  return step;
}

// Plot area of one panel and the mapping of values onto it.
struct Panel {
  double left, top, width, height;
  double xLow, xHigh;  // log10 of the period range
  double yLow, yHigh;  // log10 of the resistivity range, or degrees
  bool logY;

  double X(double period) const {
    return left + width * (std::log10(period) - xLow) / (xHigh - xLow);
  }
  double Y(double value) const {
    const double v = logY ? std::log10(value) : value;
    return top + height * (yHigh - v) / (yHigh - yLow);
  }
  double Bottom() const { return top + height; }
};

std::string Line(double x1, double y1, double x2, double y2, const std::string& colour,
                 double width, const char* extra = "") {
  return Printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" ", x1, y1, x2, y2) +
         "stroke=\"" + colour + "\" stroke-width=\"" + Printf("%.1f", width) + "\"" + extra +
         "/>\n";
}

std::string Label(double x, double y, const char* anchor, const std::string& text) {
  return Printf("<text x=\"%.1f\" y=\"%.1f\" ", x, y) + "text-anchor=\"" + anchor + "\" " + kText +
         ">" + text + "</text>\n";
}

std::string Frame(double left, double top, double width, double height, const char* name) {
  return std::string("<rect class=\"") + name + "\" " +
         Printf("x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" ", left, top, width, height) +
         "fill=\"none\" stroke=\"#404040\" stroke-width=\"1\"/>\n";
}

std::string AxisTitle(double x, double y, const char* text) {
  return Printf("<text transform=\"translate(%.1f,%.1f) rotate(-90)\" text-anchor=\"middle\" ", x,
                y) +
         kText + ">" + text + "</text>\n";
}

// The document's start: size, white background and the title centred at `titleX`.
std::string SvgOpening(double width, double height, double titleX, std::string_view title) {
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += Printf(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
      "viewBox=\"0 0 %.0f %.0f\">\n",
      width, height, width, height);
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += Printf("<text x=\"%.1f\" y=\"30\" text-anchor=\"middle\" ", titleX) +
         "font-family=\"sans-serif\" font-size=\"16\" fill=\"#202020\">" + Escaped(title) +
         "</text>\n";
  return svg;
}

// One entry of a legend: its sample and its text.
struct LegendEntry {
  enum Sample { kLine, kDashedLine, kOpenMarker } sample;
  std::string colour;
  std::string text;
};

double EntryWidth(const LegendEntry& e) {
  return 26 + kCharWidth * static_cast<double>(e.text.size()) + 18;
}

// The rows a legend takes across `width`.
int LegendRows(const std::vector<LegendEntry>& entries, double width) {
  int rows = entries.empty() ? 0 : 1;
  double x = 0;
  for (const LegendEntry& e : entries) {
    if (x > 0 && x + EntryWidth(e) > width) {
      ++rows;
      x = 0;
    }
    x += EntryWidth(e);
  }
  return rows;
}

// Draws a legend from (left, y) across `width`, entry after entry, wrapping into rows.
void DrawLegend(std::string& svg, double left, double y, double width,
                const std::vector<LegendEntry>& entries) {
  double x = left;
  for (const LegendEntry& e : entries) {
    if (x > left && x + EntryWidth(e) > left + width) {
      x = left;
      y += kLegendRow;
    }
    svg += "<g class=\"legend\">";
    if (e.sample == LegendEntry::kOpenMarker) {
      svg += Printf("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" ", x + 10, y - 4) +
             "fill=\"white\" stroke=\"" + e.colour + "\" stroke-width=\"1\"/>";
    } else {
      svg += Line(x, y - 4, x + 20, y - 4, e.colour, 2,
                  e.sample == LegendEntry::kDashedLine ? " stroke-dasharray=\"6,4\"" : "");
    }
    svg += Label(x + 26, y, "start", Escaped(e.text)) + "</g>\n";
    x += EntryWidth(e);
  }
}

// Frame, grid and labels of a panel over the period axis: decades of period (labelled under
// the panel when `periodLabels`), and decades of resistivity or steps of phase.
void DrawAxes(std::string& svg, const Panel& panel, bool resistivity, double phaseStep,
              const char* axisTitle, bool periodLabels) {
  for (int e = static_cast<int>(std::ceil(panel.xLow)); e <= static_cast<int>(panel.xHigh); ++e) {
    const double x = panel.X(std::pow(10.0, e));
    svg += Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" ", x, panel.top, x,
                  panel.Bottom()) +
           kGrid + "/>\n";
    if (periodLabels) svg += Label(x, panel.Bottom() + 18, "middle", PowerOfTen(e));
  }
  const double step = resistivity ? 1.0 : phaseStep;
  for (double v = std::ceil(panel.yLow / step - 1e-9) * step; v <= panel.yHigh + 1e-9; v += step) {
    const double y = resistivity ? panel.Y(std::pow(10.0, v)) : panel.Y(v);
    svg += Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" ", panel.left, y,
                  panel.left + panel.width, y) +
           kGrid + "/>\n";
    const long whole = std::lround(v);
    svg += Label(panel.left - 6, y + 4, "end",
                 resistivity ? PowerOfTen(static_cast<int>(whole)) : Signed(whole));
  }
  svg += Frame(panel.left, panel.top, panel.width, panel.height, "frame");
  svg += AxisTitle(panel.left - 62, panel.top + panel.height / 2, axisTitle);
}

// A model's curve: one polyline per run of points with values, and a dot at every point when
// asked.
void DrawCurve(std::string& svg, const Panel& panel, const std::vector<CurvePoint>& curve,
               bool resistivity, bool dots) {
  std::string points;
  auto flush = [&] {
    if (!points.empty()) {
      svg += "<polyline class=\"response\" fill=\"none\" stroke=\"" + std::string(kModelColour) +
             "\" stroke-width=\"1.5\" points=\"" + points + "\"/>\n";
    }
    points.clear();
  };
  for (const CurvePoint& p : curve) {
    if (!HasValues(p)) {
      flush();
      continue;
    }
    const double x = panel.X(p.period);
    const double y =
        std::clamp(panel.Y(resistivity ? p.resistivity : p.phase), panel.top, panel.Bottom());
    if (!points.empty()) points += ' ';
    points += Printf("%.2f,%.2f", x, y);
    if (dots) {
      svg += Printf("<circle cx=\"%.2f\" cy=\"%.2f\" r=\"2.5\" ", x, y) + "fill=\"" + kModelColour +
             "\"/>\n";
    }
  }
  flush();
}

// A point beyond the top or the bottom of a panel: an arrow at the frame pointing its way, and
// its value beside it.
std::string OutsideMark(const Panel& panel, double x, bool above, const std::string& value) {
  const double edge = above ? panel.top : panel.Bottom(), tip = above ? edge - 1 : edge + 1;
  const double base = above ? edge + 9 : edge - 9;
  std::string svg = "<g class=\"outside\">\n";
  svg += Printf("<polygon points=\"%.2f,%.2f %.2f,%.2f %.2f,%.2f\" ", x, tip, x - 4, base, x + 4,
                base) +
         "fill=\"" + kLeftOutColour + "\"/>\n";
  const std::string text = value[0] == '-' ? "\u2212" + value.substr(1) : value;
  svg += Label(x + 6, above ? base + 4 : base, "start", text) + "</g>\n";
  return svg;
}

// The measured points as open markers with their error bars; a bar that leaves the frame ends
// at it without a cap. The axes cover the points the fit used; one it left out that lies
// beyond is marked at the frame.
void DrawMarks(std::string& svg, const Panel& panel, const std::vector<MeasuredMark>& data,
               bool resistivity) {
  for (const MeasuredMark& m : data) {
    const double value = resistivity ? m.resistivity : m.phase;
    const double error = resistivity ? m.resistivityError : m.phaseError;
    if (!std::isfinite(value) || (resistivity && value <= 0) || !(m.period > 0)) continue;
    double low = value, high = value;
    if (error > 0 && std::isfinite(error)) {
      const double factor = resistivity ? std::exp(error / value) : 0;
      low = resistivity ? value / factor : value - error;
      high = resistivity ? value * factor : value + error;
    }
    const std::string colour = m.used ? kMeasuredColour : kLeftOutColour;
    const double x = panel.X(m.period);
    const double y = panel.Y(value);
    if (y < panel.top || y > panel.Bottom()) {
      svg += OutsideMark(panel, x, y < panel.top,
                         resistivity ? Printf("%.3g", value) : Printf("%.0f", value));
      continue;
    }
    svg += m.used ? "<g class=\"measured\">\n" : "<g class=\"left-out\">\n";
    if (low < value) {
      const double yLow = panel.Y(low), yHigh = panel.Y(high);
      svg += Line(x, std::max(yHigh, panel.top), x, std::min(yLow, panel.Bottom()), colour, 1);
      if (yHigh >= panel.top) svg += Line(x - 3, yHigh, x + 3, yHigh, colour, 1);
      if (yLow <= panel.Bottom()) svg += Line(x - 3, yLow, x + 3, yLow, colour, 1);
    }
    svg += Printf("<circle cx=\"%.2f\" cy=\"%.2f\" r=\"%.0f\" ", x, y, kRadius) +
           "fill=\"white\" stroke=\"" + colour + "\" stroke-width=\"1\"/>\n</g>\n";
  }
}

// Where the depth axis ends: as asked, else about twice the depth of investigation, else twice
// the deepest interface of the models.
double DepthAxisEnd(const FitPlot& plot, double deepest) {
  if (plot.maxDepth > 0) return plot.maxDepth;
  if (plot.investigationDepth > 0 && std::isfinite(plot.investigationDepth)) {
    return 2 * plot.investigationDepth;
  }
  return 2 * deepest;
}

std::vector<LegendEntry> DepthLegend(const FitPlot& plot) {
  std::vector<LegendEntry> entries;
  for (const DepthModel& m : plot.models) {
    entries.push_back({LegendEntry::kLine, m.colour, m.label});
  }
  if (plot.investigationDepth > 0) {
    entries.push_back({LegendEntry::kDashedLine, kInvestigationColour, "depth of investigation"});
  }
  return entries;
}

// Resistivity against depth, both logarithmic: the depth axis from the decade above the first
// interface down to DepthAxisEnd, and the depth of investigation as a dashed line with the
// part below it shaded.
void DrawDepthPanel(std::string& svg, double left, double top, double width, double height,
                    const FitPlot& plot) {
  double rLow = INFINITY, rHigh = -INFINITY, zLow = INFINITY, deepest = 0;
  for (const DepthModel& m : plot.models) {
    for (double r : m.resistivity) {
      if (r > 0 && std::isfinite(r)) {
        rLow = std::min(rLow, r);
        rHigh = std::max(rHigh, r);
      }
    }
    double depth = 0;
    for (double t : m.thickness) {
      if (t > 0 && depth == 0) zLow = std::min(zLow, t);
      depth += t;
    }
    deepest = std::max(deepest, depth);
  }
  double xFrom, xTo;
  LogAxisAround(rLow, rHigh, xFrom, xTo);
  double zHigh = DepthAxisEnd(plot, deepest);
  if (!(zLow < zHigh)) zLow = 1, zHigh = 10;
  const double yFrom = std::floor(std::log10(zLow)), yTo = std::log10(zHigh);
  auto X = [&](double r) { return left + width * (std::log10(r) - xFrom) / (xTo - xFrom); };
  auto Y = [&](double z) {
    return top + height * (std::log10(std::clamp(z, std::pow(10.0, yFrom), zHigh)) - yFrom) /
                     (yTo - yFrom);
  };
  for (int e = static_cast<int>(std::ceil(xFrom)); e <= static_cast<int>(std::floor(xTo)); ++e) {
    const double x = X(std::pow(10.0, e));
    svg +=
        Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" ", x, top, x, top + height) +
        kGrid + "/>\n";
    svg += Label(x, top + height + 18, "middle", PowerOfTen(e));
  }
  for (int e = static_cast<int>(yFrom); e <= static_cast<int>(std::floor(yTo)); ++e) {
    const double y = Y(std::pow(10.0, e));
    svg +=
        Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" ", left, y, left + width, y) +
        kGrid + "/>\n";
    svg += Label(left - 6, y + 4, "end", PowerOfTen(e));
  }
  const double doi = plot.investigationDepth;
  if (doi > 0 && doi < zHigh) {
    const double y = Y(doi);
    svg += Printf("<rect class=\"below-investigation\" x=\"%.2f\" y=\"%.2f\" ", left, y) +
           Printf("width=\"%.2f\" height=\"%.2f\" ", width, top + height - y) +
           "fill=\"#808080\" fill-opacity=\"0.18\"/>\n";
    svg += Printf("<line class=\"investigation\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" ", left, y,
                  left + width) +
           Printf("y2=\"%.2f\" ", y) + "stroke=\"" + kInvestigationColour +
           "\" stroke-width=\"1.5\" stroke-dasharray=\"6,4\"/>\n";
  }
  svg += Frame(left, top, width, height, "frame depth");
  svg += Label(left + width / 2, top + height + 40, "middle", "Resistivity (ohm-m)");
  svg += AxisTitle(left - 62, top + height / 2, "Depth (m)");
  for (const DepthModel& m : plot.models) {
    std::string points;
    double depth = 0;
    for (size_t j = 0; j < m.resistivity.size(); ++j) {
      const double r = m.resistivity[j];
      if (!(r > 0) || !std::isfinite(r)) break;
      const double below = j < m.thickness.size() ? depth + m.thickness[j] : INFINITY;
      points += Printf("%.2f,%.2f %.2f,%.2f ", X(r), Y(depth), X(r), Y(below));
      depth = below;
    }
    svg += "<polyline class=\"model\" fill=\"none\" stroke=\"" + m.colour +
           "\" stroke-width=\"2\" points=\"" + points + "\"/>\n";
  }
}

}  // namespace

std::string FormatSvg(const std::vector<CurvePoint>& curve, std::string_view title) {
  double pLow = INFINITY, pHigh = -INFINITY, rLow = INFINITY, rHigh = -INFINITY;
  double phLow = INFINITY, phHigh = -INFINITY;
  for (const CurvePoint& p : curve) {
    if (!HasValues(p)) continue;
    pLow = std::min(pLow, p.period);
    pHigh = std::max(pHigh, p.period);
    rLow = std::min(rLow, p.resistivity);
    rHigh = std::max(rHigh, p.resistivity);
    phLow = std::min(phLow, p.phase);
    phHigh = std::max(phHigh, p.phase);
  }
  const bool any = pLow <= pHigh;
  double xLow, xHigh, yLow, yHigh, phFrom, phTo;
  LogAxisAround(pLow, pHigh, xLow, xHigh);
  LogAxisAround(rLow, rHigh, yLow, yHigh);
  const double phaseStep = PhaseAxisAround(phLow, phHigh, phFrom, phTo);

  constexpr double kWidth = 760, kHeight = 660, kLeft = 90, kPlotWidth = 640;
  const Panel upper{kLeft, 60, kPlotWidth, 300, xLow, xHigh, yLow, yHigh, true};
  const Panel lower{kLeft, 410, kPlotWidth, 180, xLow, xHigh, phFrom, phTo, false};

  std::string svg = SvgOpening(kWidth, kHeight, kLeft + kPlotWidth / 2, title);
  DrawAxes(svg, upper, true, phaseStep, "Apparent resistivity (ohm-m)", false);
  DrawCurve(svg, upper, curve, true, true);
  DrawAxes(svg, lower, false, phaseStep, "Phase (degrees)", true);
  DrawCurve(svg, lower, curve, false, true);
  svg += Label(kLeft + kPlotWidth / 2, lower.Bottom() + 40, "middle", "Period (s)");
  if (!any) svg += Label(kLeft + kPlotWidth / 2, upper.top + 150, "middle", "no valid points");
  svg += "</svg>\n";
  return svg;
}

std::string FormatFitSvg(const FitPlot& plot) {
  double pLow = INFINITY, pHigh = -INFINITY, rLow = INFINITY, rHigh = -INFINITY;
  double phLow = INFINITY, phHigh = -INFINITY;
  // The period axis covers every point, the others the points the fit used and the curve.
  auto take = [&](double period, double r, double phase, bool used) {
    if (!(period > 0) || !std::isfinite(period)) return;
    pLow = std::min(pLow, period);
    pHigh = std::max(pHigh, period);
    if (!used) return;
    if (r > 0 && std::isfinite(r)) {
      rLow = std::min(rLow, r);
      rHigh = std::max(rHigh, r);
    }
    if (std::isfinite(phase)) {
      phLow = std::min(phLow, phase);
      phHigh = std::max(phHigh, phase);
    }
  };
  bool anyLeftOut = false;
  for (const MeasuredMark& m : plot.data) {
    take(m.period, m.resistivity, m.phase, m.used);
    anyLeftOut =
        anyLeftOut || (!m.used && (std::isfinite(m.resistivity) || std::isfinite(m.phase)));
  }
  for (const CurvePoint& p : plot.curve) {
    if (HasValues(p)) take(p.period, p.resistivity, p.phase, true);
  }
  double xLow, xHigh, yLow, yHigh, phFrom, phTo;
  LogAxisAround(pLow, pHigh, xLow, xHigh);
  LogAxisAround(rLow, rHigh, yLow, yHigh);
  const double phaseStep = PhaseAxisAround(phLow, phHigh, phFrom, phTo);

  // Legends above the panels: as many rows as the wider of the two needs.
  constexpr double kLeft = 90, kPlotWidth = 600, kDepthLeft = kLeft + kPlotWidth + 110;
  constexpr double kDepthWidth = 360, kLegendTop = 78;
  std::vector<LegendEntry> curveLegend = {
      {LegendEntry::kOpenMarker, kMeasuredColour, "measured, with standard errors"}};
  if (anyLeftOut) {
    curveLegend.push_back({LegendEntry::kOpenMarker, kLeftOutColour, "left out of the fit"});
  }
  if (!plot.curve.empty()) {
    curveLegend.push_back({LegendEntry::kLine, kModelColour, plot.curveLabel});
  }
  const bool depthPanel = !plot.models.empty();
  const std::vector<LegendEntry> depthLegend = DepthLegend(plot);
  const int rows = std::max(LegendRows(curveLegend, kPlotWidth),
                            depthPanel ? LegendRows(depthLegend, kDepthWidth) : 0);
  const double top = kLegendTop + kLegendRow * (rows - 1) + 16;

  const double width = depthPanel ? kDepthLeft + kDepthWidth + 20 : 760;
  const Panel upper{kLeft, top, kPlotWidth, 290, xLow, xHigh, yLow, yHigh, true};
  const Panel lower{kLeft, top + 340, kPlotWidth, 180, xLow, xHigh, phFrom, phTo, false};
  const double height = lower.Bottom() + 60;

  std::string svg = SvgOpening(width, height, width / 2, plot.title);
  if (!plot.note.empty()) {
    svg += Label(width / 2, 52, "middle", Escaped(plot.note));
  }
  DrawLegend(svg, kLeft, kLegendTop, kPlotWidth, curveLegend);
  DrawAxes(svg, upper, true, phaseStep, "Apparent resistivity (ohm-m)", false);
  DrawCurve(svg, upper, plot.curve, true, false);
  DrawMarks(svg, upper, plot.data, true);
  DrawAxes(svg, lower, false, phaseStep, "Phase (degrees)", true);
  DrawCurve(svg, lower, plot.curve, false, false);
  DrawMarks(svg, lower, plot.data, false);
  svg += Label(kLeft + kPlotWidth / 2, lower.Bottom() + 40, "middle", "Period (s)");
  if (depthPanel) {
    DrawLegend(svg, kDepthLeft, kLegendTop, kDepthWidth, depthLegend);
    DrawDepthPanel(svg, kDepthLeft, top, kDepthWidth, lower.Bottom() - top, plot);
  }
  svg += "</svg>\n";
  return svg;
}

std::string FitSvg(const Sounding& sounding, const std::vector<CurvePoint>& curve,
                   const LayeredEarth& earth, const std::string& title, const std::string& note) {
  FitPlot plot;
  plot.title = title;
  plot.note = note;
  plot.data = MarksOf(sounding);
  plot.curve = curve;
  plot.curveLabel = "model response";
  plot.models.push_back({earth.resistivity, earth.thickness, "model", kModelColour});
  return FormatFitSvg(plot);
}

std::vector<MeasuredMark> MarksOf(const Sounding& sounding) {
  std::vector<MeasuredMark> marks;
  for (const MeasuredPoint& p : sounding.points) {
    if (p.status == PointStatus::kMissing) continue;
    marks.push_back({p.period, p.resistivity, p.resistivityError, p.phase, p.phaseError,
                     p.status == PointStatus::kUsed});
  }
  return marks;
}

std::string_view FileName(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace vesk1::mt
