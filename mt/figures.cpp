#include "mt/figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "mt/format.h"

namespace vesk1::mt {
namespace {

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

// A decade as people write it: 0.001, 1, 10000; 1e-05 and 1e+06 beyond.
std::string DecadeLabel(int exponent) {
  if (exponent >= -4 && exponent <= 5) return Printf("%g", std::pow(10.0, exponent));
  return Printf("1e%+03.0f", exponent);
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
};

constexpr const char* kGrid = "stroke=\"#d0d0d0\" stroke-width=\"1\"";
constexpr const char* kText = "font-family=\"sans-serif\" font-size=\"12\" fill=\"#202020\"";

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

void DrawPanel(std::string& svg, const Panel& panel, const std::vector<CurvePoint>& curve,
               bool resistivity, const char* axisTitle, const char* colour, bool periodLabels,
               bool dots = true) {
  // Vertical grid and period labels at every decade.
  for (int e = static_cast<int>(panel.xLow); e <= static_cast<int>(panel.xHigh); ++e) {
    const double x = panel.X(std::pow(10.0, e));
    svg += Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" ", x, panel.top, x,
                  panel.top + panel.height) +
           kGrid + "/>\n";
    if (periodLabels) {
      svg += Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" ", x,
                    panel.top + panel.height + 16) +
             kText + ">" + DecadeLabel(e) + "</text>\n";
    }
  }
  // Horizontal grid: decades of resistivity, or every 15 degrees of phase.
  const double yStep = resistivity ? 1.0 : 15.0;
  for (double v = panel.yLow; v <= panel.yHigh + 1e-9; v += yStep) {
    const double y = resistivity ? panel.Y(std::pow(10.0, v)) : panel.Y(v);
    svg += Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" ", panel.left, y,
                  panel.left + panel.width, y) +
           kGrid + "/>\n";
    const std::string label =
        resistivity ? DecadeLabel(static_cast<int>(std::lround(v))) : Printf("%g", v);
    svg += Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" ", panel.left - 6, y + 4) +
           kText + ">" + label + "</text>\n";
  }
  svg += Printf("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" ", panel.left,
                panel.top, panel.width, panel.height) +
         "fill=\"none\" stroke=\"#404040\" stroke-width=\"1\"/>\n";
  svg += Printf("<text transform=\"translate(%.1f,%.1f) rotate(-90)\" text-anchor=\"middle\" ",
                panel.left - 62, panel.top + panel.height / 2) +
         kText + ">" + axisTitle + "</text>\n";

  // The curve: one polyline per run of points with values, and a dot at every point.
  std::string points;
  auto flush = [&] {
    if (!points.empty()) {
      svg += "<polyline fill=\"none\" stroke=\"" + std::string(colour) +
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
    const double y = panel.Y(resistivity ? p.resistivity : std::clamp(p.phase, 0.0, 90.0));
    if (!points.empty()) points += ' ';
    points += Printf("%.2f,%.2f", x, y);
    if (dots) {
      svg += Printf("<circle cx=\"%.2f\" cy=\"%.2f\" r=\"2.5\" ", x, y) + "fill=\"" + colour +
             "\"/>\n";
    }
  }
  flush();
}

}  // namespace

std::string FormatSvg(const std::vector<CurvePoint>& curve, std::string_view title) {
  // Ranges cover whole decades around the points that have values.
  double pLow = INFINITY, pHigh = -INFINITY, rLow = INFINITY, rHigh = -INFINITY;
  for (const CurvePoint& p : curve) {
    if (!HasValues(p)) continue;
    pLow = std::min(pLow, p.period);
    pHigh = std::max(pHigh, p.period);
    rLow = std::min(rLow, p.resistivity);
    rHigh = std::max(rHigh, p.resistivity);
  }
  const bool any = pLow <= pHigh;
  auto decades = [&](double low, double high, double& from, double& to) {
    from = any ? std::floor(std::log10(low)) : 0;
    to = any ? std::ceil(std::log10(high)) : 1;
    if (to <= from) to = from + 1;
  };
  double xLow, xHigh, yLow, yHigh;
  decades(pLow, pHigh, xLow, xHigh);
  decades(rLow, rHigh, yLow, yHigh);

  constexpr double kWidth = 760, kHeight = 660, kLeft = 90, kPlotWidth = 640;
  const Panel upper{kLeft, 60, kPlotWidth, 300, xLow, xHigh, yLow, yHigh, true};
  const Panel lower{kLeft, 410, kPlotWidth, 180, xLow, xHigh, 0, 90, false};

  std::string svg = SvgOpening(kWidth, kHeight, kLeft + kPlotWidth / 2, title);
  DrawPanel(svg, upper, curve, true, "Apparent resistivity (ohm-m)", "#1f5fa8", false);
  DrawPanel(svg, lower, curve, false, "Phase (degrees)", "#b03a2e", true);
  svg += Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" ", kLeft + kPlotWidth / 2,
                lower.top + lower.height + 40) +
         kText + ">Period (s)</text>\n";
  if (!any) {
    svg += Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" ", kLeft + kPlotWidth / 2,
                  upper.top + upper.height / 2) +
           kText + ">no valid points</text>\n";
  }
  svg += "</svg>\n";
  return svg;
}

namespace {

// Whole decades around [low, high]; at least one.
void Decades(double low, double high, double& from, double& to) {
  const bool any = low <= high && low > 0;
  from = any ? std::floor(std::log10(low)) : 0;
  to = any ? std::ceil(std::log10(high)) : 1;
  if (to <= from) to = from + 1;
}

std::string Line(double x1, double y1, double x2, double y2, const std::string& colour,
                 double width) {
  return Printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" ", x1, y1, x2, y2) +
         "stroke=\"" + colour + "\" stroke-width=\"" + Printf("%.1f", width) + "\"/>\n";
}

void DrawMarks(std::string& svg, const Panel& panel, const std::vector<MeasuredMark>& data,
               bool resistivity) {
  const std::string colour = "#000000";
  const double bottom = panel.top + panel.height, top = panel.top;
  for (const MeasuredMark& m : data) {
    const double value = resistivity ? m.resistivity : m.phase;
    const double error = resistivity ? m.resistivityError : m.phaseError;
    if (!std::isfinite(value) || (resistivity && value <= 0)) continue;
    const double x = panel.X(m.period);
    auto y = [&](double v) {
      if (resistivity && v <= 0) return bottom;
      return std::clamp(panel.Y(resistivity ? v : std::clamp(v, 0.0, 90.0)), top, bottom);
    };
    const double y0 = y(value), yLow = y(value - error), yHigh = y(value + error);
    svg += Line(x, yLow, x, yHigh, colour, 1);
    svg += Line(x - 3, yLow, x + 3, yLow, colour, 1);
    svg += Line(x - 3, yHigh, x + 3, yHigh, colour, 1);
    svg += Printf("<circle cx=\"%.2f\" cy=\"%.2f\" r=\"2.5\" ", x, y0) +
           "fill=\"white\" stroke=\"" + colour + "\" stroke-width=\"1\"/>\n";
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

void DrawDepthPanel(std::string& svg, double left, double top, double width, double height,
                    const FitPlot& plot) {
  const std::vector<DepthModel>& models = plot.models;
  double rLow = INFINITY, rHigh = -INFINITY, zLow = INFINITY, deepest = 0;
  for (const DepthModel& m : models) {
    double depth = 0;
    for (double r : m.resistivity) {
      if (r > 0 && std::isfinite(r)) {
        rLow = std::min(rLow, r);
        rHigh = std::max(rHigh, r);
      }
    }
    for (double t : m.thickness) {
      if (t > 0 && depth == 0) zLow = std::min(zLow, t);
      depth += t;
    }
    deepest = std::max(deepest, depth);
  }
  double xFrom, xTo;
  Decades(rLow, rHigh, xFrom, xTo);
  double zHigh = DepthAxisEnd(plot, deepest);
  if (!(zLow < zHigh)) zLow = 1, zHigh = 10;
  // The axis starts at a whole decade and ends where it was asked to.
  const double yFrom = std::floor(std::log10(zLow)), yTo = std::log10(zHigh);
  auto X = [&](double r) { return left + width * (std::log10(r) - xFrom) / (xTo - xFrom); };
  auto Y = [&](double z) {
    return top + height * (std::log10(std::clamp(z, std::pow(10.0, yFrom), zHigh)) - yFrom) /
                     (yTo - yFrom);
  };
  for (int e = static_cast<int>(xFrom); e <= static_cast<int>(xTo); ++e) {
    const double x = X(std::pow(10.0, e));
    svg +=
        Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" ", x, top, x, top + height) +
        kGrid + "/>\n";
    svg += Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" ", x, top + height + 16) +
           kText + ">" + DecadeLabel(e) + "</text>\n";
  }
  for (int e = static_cast<int>(yFrom); e <= static_cast<int>(std::floor(yTo)); ++e) {
    const double y = Y(std::pow(10.0, e));
    svg +=
        Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" ", left, y, left + width, y) +
        kGrid + "/>\n";
    svg += Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" ", left - 6, y + 4) + kText +
           ">" + DecadeLabel(e) + "</text>\n";
  }
  svg += Printf("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" ", left, top, width,
                height) +
         "fill=\"none\" stroke=\"#404040\" stroke-width=\"1\"/>\n";
  svg += Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" ", left + width / 2,
                top + height + 40) +
         kText + ">Resistivity (ohm-m)</text>\n";
  svg += Printf("<text transform=\"translate(%.1f,%.1f) rotate(-90)\" text-anchor=\"middle\" ",
                left - 62, top + height / 2) +
         kText + ">Depth (m)</text>\n";
  double legendY = top + 16;
  const double doi = plot.investigationDepth;
  if (doi > 0 && doi < zHigh) {
    const double y = Y(doi);
    svg += Printf("<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" ", left, y, width,
                  top + height - y) +
           "fill=\"#808080\" fill-opacity=\"0.18\"/>\n";
    svg +=
        Printf("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" ", left, y, left + width, y) +
        "stroke=\"#404040\" stroke-width=\"1.5\" stroke-dasharray=\"6,4\"/>\n";
    svg += Printf("<text x=\"%.1f\" y=\"%.1f\" ", left + 6, y + 16) + kText +
           ">depth of investigation</text>\n";
  }
  for (const DepthModel& m : models) {
    std::string points;
    double depth = 0;
    for (size_t j = 0; j < m.resistivity.size(); ++j) {
      const double r = m.resistivity[j];
      if (!(r > 0) || !std::isfinite(r)) break;
      const double below = j < m.thickness.size() ? depth + m.thickness[j] : INFINITY;
      points += Printf("%.2f,%.2f %.2f,%.2f ", X(r), Y(depth), X(r), Y(below));
      depth = below;
    }
    svg += "<polyline fill=\"none\" stroke=\"" + m.colour + "\" stroke-width=\"2\" points=\"" +
           points + "\"/>\n";
    svg += Line(left + width - 150, legendY - 4, left + width - 126, legendY - 4, m.colour, 2);
    svg += Printf("<text x=\"%.1f\" y=\"%.1f\" ", left + width - 120, legendY) + kText + ">" +
           Escaped(m.label) + "</text>\n";
    legendY += 18;
  }
}

}  // namespace

std::string FormatFitSvg(const FitPlot& plot) {
  double pLow = INFINITY, pHigh = -INFINITY, rLow = INFINITY, rHigh = -INFINITY;
  auto take = [&](double period, double r) {
    if (!(period > 0) || !std::isfinite(period) || !(r > 0) || !std::isfinite(r)) return;
    pLow = std::min(pLow, period);
    pHigh = std::max(pHigh, period);
    rLow = std::min(rLow, r);
    rHigh = std::max(rHigh, r);
  };
  for (const MeasuredMark& m : plot.data) {
    take(m.period, m.resistivity + m.resistivityError);
    take(m.period, m.resistivity - m.resistivityError > 0 ? m.resistivity - m.resistivityError
                                                          : m.resistivity);
  }
  for (const CurvePoint& p : plot.curve) {
    if (HasValues(p)) take(p.period, p.resistivity);
  }
  double xLow, xHigh, yLow, yHigh;
  Decades(pLow, pHigh, xLow, xHigh);
  Decades(rLow, rHigh, yLow, yHigh);

  const bool depthPanel = !plot.models.empty();
  constexpr double kLeft = 90, kPlotWidth = 600, kHeight = 680;
  const double width = depthPanel ? 1180 : 760;
  const Panel upper{kLeft, 80, kPlotWidth, 300, xLow, xHigh, yLow, yHigh, true};
  const Panel lower{kLeft, 430, kPlotWidth, 180, xLow, xHigh, 0, 90, false};

  std::string svg = SvgOpening(width, kHeight, width / 2, plot.title);
  if (!plot.note.empty()) {
    svg += Printf("<text x=\"%.1f\" y=\"52\" text-anchor=\"middle\" ", width / 2) + kText + ">" +
           Escaped(plot.note) + "</text>\n";
  }
  DrawPanel(svg, upper, plot.curve, true, "Apparent resistivity (ohm-m)", "#1f5fa8", false, false);
  DrawPanel(svg, lower, plot.curve, false, "Phase (degrees)", "#b03a2e", true, false);
  DrawMarks(svg, upper, plot.data, true);
  DrawMarks(svg, lower, plot.data, false);
  svg += Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" ", kLeft + kPlotWidth / 2,
                lower.top + lower.height + 40) +
         kText + ">Period (s)</text>\n";
  // Legend of the curve panels.
  svg += Printf("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\" ", kLeft + 12, upper.top + 14) +
         "fill=\"white\" stroke=\"#000000\"/>\n";
  svg += Printf("<text x=\"%.1f\" y=\"%.1f\" ", kLeft + 22, upper.top + 18) + kText +
         ">measured, with standard errors</text>\n";
  if (!plot.curve.empty()) {
    svg += Line(kLeft + 2, upper.top + 32, kLeft + 20, upper.top + 32, "#1f5fa8", 1.5);
    svg += Printf("<text x=\"%.1f\" y=\"%.1f\" ", kLeft + 22, upper.top + 36) + kText + ">" +
           Escaped(plot.curveLabel) + "</text>\n";
  }
  if (depthPanel) DrawDepthPanel(svg, kLeft + kPlotWidth + 110, 80, 360, 530, plot);
  svg += "</svg>\n";
  return svg;
}

std::string FitSvg(const Sounding& sounding, const std::vector<CurvePoint>& curve,
                   const LayeredEarth& earth, const std::string& title, const std::string& note) {
  FitPlot plot;
  plot.title = title;
  plot.note = note;
  for (const MeasuredPoint& p : sounding.points) {
    plot.data.push_back({p.period, p.resistivity, p.resistivityError, p.phase, p.phaseError});
  }
  plot.curve = curve;
  plot.curveLabel = "model response";
  plot.models.push_back({earth.resistivity, earth.thickness, "model", "#1f5fa8"});
  return FormatFitSvg(plot);
}

}  // namespace vesk1::mt
