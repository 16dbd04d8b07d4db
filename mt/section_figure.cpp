#include "mt/section_figure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>

#include "mt/format.h"
#include "mt/svg.h"

namespace vesk1::mt {
namespace {

using namespace svg;

// The resistivity scale: conductive red through yellow to resistive blue, as sections are read
// in the field; the phase scale: dark violet through green to yellow, so the two are never
// mistaken for each other.
constexpr unsigned kResistivityAnchors[] = {0xa50026, 0xf46d43, 0xfee090,
                                            0xe0f3f8, 0x74add1, 0x313695};
constexpr unsigned kPhaseAnchors[] = {0x440154, 0x3b528b, 0x21908d, 0x5dc963, 0xfde725};
constexpr double kPhaseLow = 0, kPhaseHigh = 90, kPhaseStep = 15;
// Below a station's depth of investigation its column is covered by white of this opacity.
constexpr double kShadeOpacity = 0.6;
constexpr const char* kInvestigationColour = "#202020";
constexpr const char* kPointColour = "#000000";
constexpr const char* kTargetColour = "#808080";
// The layout: the panels' left edge and widths, the colour bars' place, the rows' tops.
constexpr double kWidth = 1000, kLeft = 80, kSectionWidth = 760, kHalfWidth = 350,
                 kHalfGap = 60, kBarLeft = 870, kBarWidth = 14;
constexpr double kNamesY = 76, kSectionTop = 96, kSectionHeight = 320, kRmsTop = 506,
                 kRmsHeight = 80, kPseudoTop = 666, kPseudoHeight = 190, kPseudoRow = 280;
constexpr double kHeight = kPseudoTop + kPseudoRow + kPseudoHeight + 70;
constexpr double kCharWidth = 6.6;
// The shades of a colour bar, and how far beyond the deepest depth of investigation the
// section reaches by default.
constexpr int kBarSteps = 48;
constexpr double kDepthBeyondInvestigation = 1.5;

std::string Colour(const unsigned* anchors, size_t count, double share) {
  share = std::clamp(std::isfinite(share) ? share : 0.0, 0.0, 1.0);
  const double at = share * static_cast<double>(count - 1);
  const size_t k = std::min(static_cast<size_t>(at), count - 2);
  const double f = at - static_cast<double>(k);
  auto channel = [&](int shift) {
    const double a = (anchors[k] >> shift) & 0xff, b = (anchors[k + 1] >> shift) & 0xff;
    return static_cast<int>(std::lround(a + f * (b - a)));
  };
  char hex[8];
  std::snprintf(hex, sizeof hex, "#%02x%02x%02x", channel(16), channel(8), channel(0));
  return hex;
}

// A step of 1, 2 or 5 times a power of ten giving at most `most` steps over `span`.
double NiceStep(double span, int most) {
  if (!(span > 0)) return 1;
  const double unit = std::pow(10.0, std::floor(std::log10(span / most)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (span / (m * unit) <= most) return m * unit;
  }
  return 10 * unit;
}

// The smallest 1, 2 or 5 times a power of ten at or above `value`.
double NiceCeiling(double value) {
  const double unit = std::pow(10.0, std::floor(std::log10(value)));
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * unit >= value * (1 - 1e-12)) return m * unit;
  }
  return 10 * unit;
}

std::string NumberText(double value) {
  std::string text = Printf("%.3g", value == 0 ? 0.0 : value);  // never "-0"
  if (text[0] == '-') text = "\u2212" + text.substr(1);
  return text;
}

std::string Rect(double x, double y, double width, double height, const std::string& fill,
                 const char* extra = "") {
  return Printf("<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" ", x, y, width,
                height) +
         "fill=\"" + fill + "\"" + extra + "/>\n";
}

// A panel with distance across: its place, and the distance range (metres) and the vertical
// range it maps.
struct Area {
  double left, top, width, height;
  double xLow, xHigh;
  double yLow, yHigh;  // at the top and at the bottom
  double X(double metres) const { return left + width * (metres - xLow) / (xHigh - xLow); }
  double Y(double value) const { return top + height * (value - yLow) / (yHigh - yLow); }
  double Bottom() const { return top + height; }
};

// The edges of the stations' columns: the midpoints between neighbours, and half a spacing
// beyond the first and the last.
std::vector<double> ColumnEdges(const std::vector<SectionStation>& stations) {
  const size_t n = stations.size();
  std::vector<double> edges(n + 1);
  const double span = n > 1 ? stations.back().distance - stations.front().distance : 0;
  const double spacing = span > 0 ? span / static_cast<double>(n - 1) : 1000;
  for (size_t s = 1; s < n; ++s) edges[s] = 0.5 * (stations[s - 1].distance + stations[s].distance);
  edges[0] = stations.front().distance - 0.5 * (n > 1 && edges[1] > stations[0].distance
                                                    ? 2 * (edges[1] - stations[0].distance)
                                                    : spacing);
  edges[n] = stations.back().distance + 0.5 * (n > 1 && stations[n - 1].distance > edges[n - 1]
                                                    ? 2 * (stations[n - 1].distance - edges[n - 1])
                                                    : spacing);
  return edges;
}

std::string DistanceAxis(const Area& a, bool withTitle) {
  std::string svg;
  const double step = NiceStep((a.xHigh - a.xLow) / 1000, 10) * 1000;
  for (double d = std::ceil(a.xLow / step) * step; d <= a.xHigh + 1e-9; d += step) {
    svg += Line(a.X(d), a.Bottom(), a.X(d), a.Bottom() + 5, "#404040", 1);
    svg += Label(a.X(d), a.Bottom() + 18, "middle", NumberText(d / 1000));
  }
  if (withTitle) {
    svg += Label(a.left + a.width / 2, a.Bottom() + 36, "middle", "distance along the line (km)");
  }
  return svg;
}

// A vertical colour bar beside a row, labelled at `ticks` of the value range [low, high].
std::string ColourBar(double top, double height, double low, double high, bool resistivity,
                      const std::vector<std::pair<double, std::string>>& ticks,
                      const char* title) {
  std::string svg;
  for (int k = 0; k < kBarSteps; ++k) {
    const double share = (k + 0.5) / kBarSteps;
    const double y = top + height * (1 - static_cast<double>(k + 1) / kBarSteps);
    svg += Rect(kBarLeft, y, kBarWidth, height / kBarSteps + 0.5,
                resistivity ? ResistivityColour(share) : PhaseColour(share));
  }
  svg += Frame(kBarLeft, top, kBarWidth, height, "colour-bar");
  for (const auto& [value, text] : ticks) {
    const double y = top + height * (high - value) / (high - low);
    svg += Line(kBarLeft + kBarWidth, y, kBarLeft + kBarWidth + 4, y, "#404040", 1);
    svg += Label(kBarLeft + kBarWidth + 7, y + 4, "start", text);
  }
  svg += AxisTitle(kBarLeft + kBarWidth + 62, top + height / 2, title);
  return svg;
}

struct Scales {
  double rhoLow = 0, rhoHigh = 1;  // log10 ohm-m
  double minDepth = 1;             // metres: the top of the logarithmic depth axis
  double maxDepth = 0;             // metres
};

Scales ScalesOf(const SectionPlot& plot) {
  Scales scales;
  double deepest = 0, bottom = 0;
  for (double t : plot.thickness) bottom += t;
  for (const SectionStation& s : plot.stations) {
    if (std::isfinite(s.investigationDepth)) deepest = std::max(deepest, s.investigationDepth);
  }
  scales.maxDepth = plot.maxDepth > 0 ? plot.maxDepth
                    : deepest > 0     ? NiceCeiling(kDepthBeyondInvestigation * deepest)
                    : bottom > 0      ? bottom
                                      : 1000;
  // The depth axis starts at the decade at or above half the first layer's bottom, so every
  // layer shows.
  const double first = plot.thickness.empty() ? 1.0 : plot.thickness.front();
  scales.minDepth = std::pow(10.0, std::floor(std::log10(first / 2)));
  if (!(scales.minDepth < scales.maxDepth)) scales.minDepth = scales.maxDepth / 10;
  double low = std::numeric_limits<double>::infinity(), high = -low;
  auto take = [&](double v) {
    if (!std::isfinite(v)) return;
    low = std::min(low, v);
    high = std::max(high, v);
  };
  for (const SectionStation& s : plot.stations) {
    double top = 0;
    for (size_t j = 0; j < s.log10Rho.size() && top < scales.maxDepth; ++j) {
      take(s.log10Rho[j]);
      if (j < plot.thickness.size()) top += plot.thickness[j];
    }
    for (double v : s.measuredLog10Rho) take(v);
    for (double v : s.computedLog10Rho) take(v);
  }
  if (!(low <= high)) low = 0, high = 1;
  scales.rhoLow = std::floor(2 * low) / 2;
  scales.rhoHigh = std::ceil(2 * high) / 2;
  if (scales.rhoHigh - scales.rhoLow < 1) {
    const double middle = 0.5 * (scales.rhoLow + scales.rhoHigh);
    scales.rhoLow = std::floor(middle - 0.5);
    scales.rhoHigh = scales.rhoLow + 1;
  }
  return scales;
}

std::string ModelSection(const SectionPlot& plot, const Scales& scales, const Area& a,
                         const std::vector<double>& edges) {
  // Depth on a logarithmic axis; the surface lies at its top.
  auto depthY = [&](double metres) {
    return a.Y(std::log10(std::clamp(metres, scales.minDepth, scales.maxDepth)));
  };
  std::string svg = "<g class=\"model-section\">\n";
  for (size_t s = 0; s < plot.stations.size(); ++s) {
    const SectionStation& st = plot.stations[s];
    const double x0 = a.X(edges[s]), x1 = a.X(edges[s + 1]);
    double top = 0;
    for (size_t j = 0; j < st.log10Rho.size() && top < scales.maxDepth; ++j) {
      const double bottom =
          j < plot.thickness.size() ? std::min(top + plot.thickness[j], scales.maxDepth)
                                    : scales.maxDepth;
      const double share = (st.log10Rho[j] - scales.rhoLow) / (scales.rhoHigh - scales.rhoLow);
      // A hair's overlap, so no seam of background shows between neighbouring cells.
      svg += Rect(x0, depthY(top), x1 - x0 + 0.3, depthY(bottom) - depthY(top) + 0.3,
                  ResistivityColour(share));
      top = bottom;
    }
  }
  svg += "</g>\n<g class=\"below-investigation\">\n";
  for (size_t s = 0; s < plot.stations.size(); ++s) {
    const double doi = plot.stations[s].investigationDepth;
    if (!std::isfinite(doi) || doi >= scales.maxDepth) continue;
    const double x0 = a.X(edges[s]), x1 = a.X(edges[s + 1]);
    svg += Rect(x0, depthY(doi), x1 - x0, a.Bottom() - depthY(doi), "#ffffff",
                Printf(" fill-opacity=\"%.2f\"", kShadeOpacity).c_str());
    svg += Line(x0, depthY(doi), x1, depthY(doi), kInvestigationColour, 1.2,
                " stroke-dasharray=\"5,3\"");
  }
  svg += "</g>\n";
  svg += Frame(a.left, a.top, a.width, a.height, "section-frame");
  // Depth in kilometres down the left, decades labelled, 2 and 5 times them marked; distance
  // along the bottom.
  for (int e = static_cast<int>(std::floor(a.yLow)); e <= a.yHigh + 1e-9; ++e) {
    for (double m : {1.0, 2.0, 5.0}) {
      const double v = e + std::log10(m);
      if (v < a.yLow - 1e-9 || v > a.yHigh + 1e-9) continue;
      svg += Line(a.left - (m == 1 ? 5 : 3), a.Y(v), a.left, a.Y(v), "#404040", 1);
      if (m == 1) svg += Label(a.left - 8, a.Y(v) + 4, "end", NumberText(std::pow(10.0, e) / 1000));
    }
  }
  svg += AxisTitle(a.left - 48, a.top + a.height / 2, "depth (km)");
  svg += DistanceAxis(a, true);
  // The stations: a mark at the top of each column and its name above it, every k-th name when
  // they would run into each other.
  size_t longest = 1;
  for (const SectionStation& st : plot.stations) longest = std::max(longest, st.name.size());
  const double room = a.width / static_cast<double>(std::max<size_t>(plot.stations.size(), 1));
  const size_t every = static_cast<size_t>(
      std::ceil((kCharWidth * static_cast<double>(longest) + 6) / std::max(room, 1.0)));
  svg += "<g class=\"stations\">\n";
  for (size_t s = 0; s < plot.stations.size(); ++s) {
    const double x = a.X(plot.stations[s].distance);
    svg += Printf("<path d=\"M %.2f %.2f l -5 -9 l 10 0 z\" fill=\"#202020\"/>\n", x, a.top - 1);
    if (s % std::max<size_t>(every, 1) == 0) {
      svg += Label(x, kNamesY, "middle", Escaped(plot.stations[s].name));
    }
  }
  svg += "</g>\n";
  // The legend of the shading, outside the frame under the distance axis's title.
  const double ly = a.Bottom() + 56;
  svg += Line(a.left + a.width - 300, ly - 4, a.left + a.width - 276, ly - 4,
              kInvestigationColour, 1.2, " stroke-dasharray=\"5,3\"");
  svg += Label(a.left + a.width, ly, "end", "depth of investigation, lighter below it");
  std::vector<std::pair<double, std::string>> ticks;
  for (int e = static_cast<int>(std::ceil(scales.rhoLow)); e <= scales.rhoHigh + 1e-9; ++e) {
    ticks.emplace_back(e, PowerOfTen(e));
  }
  svg += ColourBar(a.top, a.height, scales.rhoLow, scales.rhoHigh, true, ticks,
                   "resistivity (ohm-m)");
  return svg;
}

std::string MisfitPanel(const SectionPlot& plot, const Area& section) {
  double highest = 1.5 * plot.targetRms;
  for (const SectionStation& s : plot.stations) {
    if (std::isfinite(s.rms)) highest = std::max(highest, 1.1 * s.rms);
  }
  const double step = NiceStep(highest, 4);
  highest = std::ceil(highest / step) * step;
  Area a{section.left, kRmsTop, section.width, kRmsHeight, section.xLow, section.xHigh,
         highest, 0};
  std::string svg = "<g class=\"misfit\">\n";
  for (double v = 0; v <= highest + 1e-9; v += step) {
    svg += Line(a.left, a.Y(v), a.left + a.width, a.Y(v), "#e4e4e4", 1);
    svg += Label(a.left - 8, a.Y(v) + 4, "end", NumberText(v));
  }
  svg += Line(a.left, a.Y(plot.targetRms), a.left + a.width, a.Y(plot.targetRms), kTargetColour,
              1.2, " stroke-dasharray=\"6,4\"");
  std::string path;
  for (const SectionStation& s : plot.stations) {
    if (!std::isfinite(s.rms)) continue;
    path += path.empty() ? "M" : "L";
    path += Printf(" %.2f %.2f ", a.X(s.distance), a.Y(s.rms));
  }
  if (!path.empty()) {
    svg += "<path d=\"" + path + "\" fill=\"none\" stroke=\"" + kPointColour +
           "\" stroke-width=\"1\"/>\n";
  }
  for (const SectionStation& s : plot.stations) {
    if (!std::isfinite(s.rms)) continue;
    svg += Printf("<circle cx=\"%.2f\" cy=\"%.2f\" r=\"3.5\" fill=\"white\" ", a.X(s.distance),
                  a.Y(s.rms)) +
           "stroke=\"" + kPointColour + "\" stroke-width=\"1.2\"/>\n";
  }
  svg += "</g>\n";
  svg += Frame(a.left, a.top, a.width, a.height, "misfit-frame");
  svg += AxisTitle(a.left - 48, a.top + a.height / 2, "RMS");
  svg += Label(a.left, a.top - 8, "start", "misfit of each station");
  svg += Line(a.left + a.width - 120, a.top - 12, a.left + a.width - 96, a.top - 12,
              kTargetColour, 1.2, " stroke-dasharray=\"6,4\"");
  svg += Label(a.left + a.width, a.top - 8, "end", "target " + NumberText(plot.targetRms));
  svg += DistanceAxis(a, false);
  return svg;
}

// The half-height of a station's period cells, in decades: half the usual spacing of its
// periods.
double HalfCell(const std::vector<double>& period) {
  std::vector<double> gaps;
  for (size_t i = 1; i < period.size(); ++i) gaps.push_back(std::log10(period[i] / period[i - 1]));
  if (gaps.empty()) return 0.1;
  std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2),
                   gaps.end());
  return 0.5 * gaps[gaps.size() / 2];
}

enum class Quantity { kMeasuredRho, kComputedRho, kMeasuredPhase, kComputedPhase };

std::string PseudoSection(const SectionPlot& plot, const Scales& scales, Quantity q,
                          const Area& a, const std::vector<double>& edges, const char* title) {
  std::string svg = std::string("<g class=\"pseudo-section\">\n");
  const bool phase = q == Quantity::kMeasuredPhase || q == Quantity::kComputedPhase;
  for (size_t s = 0; s < plot.stations.size(); ++s) {
    const SectionStation& st = plot.stations[s];
    const std::vector<double>& values = q == Quantity::kMeasuredRho   ? st.measuredLog10Rho
                                        : q == Quantity::kComputedRho ? st.computedLog10Rho
                                        : q == Quantity::kMeasuredPhase ? st.measuredPhase
                                                                        : st.computedPhase;
    const double half = HalfCell(st.period);
    const double x0 = a.X(edges[s]), x1 = a.X(edges[s + 1]);
    for (size_t i = 0; i < st.period.size() && i < values.size(); ++i) {
      if (!std::isfinite(values[i])) continue;
      const double p = std::log10(st.period[i]);
      // A cell reaches half way to its neighbours at most, so a gap in the periods stays open.
      const double up = i > 0 ? std::min(half, 0.5 * (p - std::log10(st.period[i - 1]))) : half;
      const double down =
          i + 1 < st.period.size() ? std::min(half, 0.5 * (std::log10(st.period[i + 1]) - p))
                                   : half;
      const double share = phase ? (values[i] - kPhaseLow) / (kPhaseHigh - kPhaseLow)
                                 : (values[i] - scales.rhoLow) / (scales.rhoHigh - scales.rhoLow);
      const double y0 = std::max(a.Y(p - up), a.top), y1 = std::min(a.Y(p + down), a.Bottom());
      svg += Rect(x0, y0, x1 - x0 + 0.3, y1 - y0 + 0.3,
                  phase ? PhaseColour(share) : ResistivityColour(share));
    }
  }
  svg += "</g>\n";
  svg += Frame(a.left, a.top, a.width, a.height, "pseudo-frame");
  svg += Label(a.left, a.top - 8, "start", title);
  for (int e = static_cast<int>(std::ceil(a.yLow)); e <= a.yHigh + 1e-9; ++e) {
    svg += Line(a.left - 5, a.Y(e), a.left, a.Y(e), "#404040", 1);
    svg += Label(a.left - 8, a.Y(e) + 4, "end", PowerOfTen(e));
  }
  svg += AxisTitle(a.left - 48, a.top + a.height / 2, "period (s)");
  svg += DistanceAxis(a, true);
  return svg;
}

}  // namespace

std::string ResistivityColour(double share) {
  return Colour(kResistivityAnchors, std::size(kResistivityAnchors), share);
}

std::string PhaseColour(double share) {
  return Colour(kPhaseAnchors, std::size(kPhaseAnchors), share);
}

std::string FormatSectionSvg(const SectionPlot& plot) {
  std::string svg = SvgOpening(kWidth, kHeight, kLeft + kSectionWidth / 2, plot.title);
  if (!plot.note.empty()) {
    svg += Label(kLeft + kSectionWidth / 2, 50, "middle", Escaped(plot.note));
  }
  if (plot.stations.empty()) return svg + "</svg>\n";
  const Scales scales = ScalesOf(plot);
  const std::vector<double> edges = ColumnEdges(plot.stations);
  const Area section{kLeft,         kSectionTop,  kSectionWidth,
                     kSectionHeight, edges.front(), edges.back(),
                     std::log10(scales.minDepth), std::log10(scales.maxDepth)};
  svg += ModelSection(plot, scales, section, edges);
  svg += MisfitPanel(plot, section);

  // The pseudo-sections: period growing downwards over all stations' periods.
  double shortest = std::numeric_limits<double>::infinity(), longest = 0, half = 0;
  for (const SectionStation& s : plot.stations) {
    if (s.period.empty()) continue;
    shortest = std::min(shortest, s.period.front());
    longest = std::max(longest, s.period.back());
    half = std::max(half, HalfCell(s.period));
  }
  if (!(shortest <= longest)) shortest = 1, longest = 10;
  const double pLow = std::log10(shortest) - half, pHigh = std::log10(longest) + half;
  const struct {
    Quantity q;
    int row, column;
    const char* title;
  } panels[] = {
      {Quantity::kMeasuredRho, 0, 0, "measured apparent resistivity"},
      {Quantity::kComputedRho, 0, 1, "computed apparent resistivity"},
      {Quantity::kMeasuredPhase, 1, 0, "measured phase"},
      {Quantity::kComputedPhase, 1, 1, "computed phase"},
  };
  for (const auto& p : panels) {
    const Area a{kLeft + p.column * (kHalfWidth + kHalfGap), kPseudoTop + p.row * kPseudoRow,
                 kHalfWidth, kPseudoHeight, edges.front(), edges.back(), pLow, pHigh};
    svg += PseudoSection(plot, scales, p.q, a, edges, p.title);
  }
  std::vector<std::pair<double, std::string>> rhoTicks, phaseTicks;
  for (int e = static_cast<int>(std::ceil(scales.rhoLow)); e <= scales.rhoHigh + 1e-9; ++e) {
    rhoTicks.emplace_back(e, PowerOfTen(e));
  }
  for (double v = kPhaseLow; v <= kPhaseHigh + 1e-9; v += kPhaseStep) {
    phaseTicks.emplace_back(v, NumberText(v));
  }
  svg += ColourBar(kPseudoTop, kPseudoHeight, scales.rhoLow, scales.rhoHigh, true, rhoTicks,
                   "apparent resistivity (ohm-m)");
  svg += ColourBar(kPseudoTop + kPseudoRow, kPseudoHeight, kPhaseLow, kPhaseHigh, false,
                   phaseTicks, "phase (degrees)");
  return svg + "</svg>\n";
}

}  // namespace vesk1::mt
