#include "mt/figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "mt/format.h"
#include "mt/svg.h"

namespace vesk1::mt {
namespace {

using namespace svg;

constexpr const char* kInvestigationColour = "#404040";

bool HasValues(const CurvePoint& p) {
  return std::isfinite(p.period) && p.period > 0 && std::isfinite(p.resistivity) &&
         p.resistivity > 0 && std::isfinite(p.phase);
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
