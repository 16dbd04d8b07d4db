#include "mt/posterior_figure.h"

#include <algorithm>
#include <cmath>

#include "mt/format.h"
#include "mt/svg.h"

namespace vesk1::mt {
namespace {

using namespace svg;

// Layout, in pixels: the depth panel and the interface histogram beside it share the depth
// axis; the layer-count histogram and the summary stand to their right; the data below.
constexpr double kWidth = 1180, kRightMargin = 40, kLeft = 90, kLegendTop = 78;
constexpr double kDepthWidth = 430, kUpperHeight = 430;
constexpr double kHistogramLeft = kLeft + kDepthWidth + 16, kHistogramWidth = 140;
constexpr double kLayersLeft = kHistogramLeft + kHistogramWidth + 90;
constexpr double kLayersWidth = kWidth - kRightMargin - kLayersLeft, kLayersHeight = 180;
constexpr double kDataWidth = 470, kDataHeight = 220;
constexpr double kPhaseLeft = kWidth - kRightMargin - kDataWidth;
// Below a panel: its tick labels, then its axis title.
constexpr double kTickLabelDrop = 18, kAxisTitleDrop = 40;
// The density's cells are drawn with at most this opacity, the largest share at each depth
// the most; the band of responses with this one.
constexpr double kMostOpacity = 0.85, kBandOpacity = 0.3;
// Layer counts labelled under the histogram: 1 and every multiple of this.
constexpr int kLayerLabelStep = 5;

std::string Rect(double x, double y, double width, double height, const char* extra) {
  return Printf("<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\"", x, y, width, height) +
         extra + "/>";
}

double Largest(const std::vector<double>& values) {
  double most = 0;
  for (double v : values) most = std::max(most, v);
  return most;
}

// Grid lines at the decades of depth and, when asked, of resistivity, with their labels.
void DrawDepthGrid(std::string& svg, const Panel& p, bool depthLabels, bool rhoDecades) {
  for (int e = static_cast<int>(std::ceil(p.yHigh)); e <= static_cast<int>(std::floor(p.yLow));
       ++e) {
    const double y = p.Y(std::pow(10.0, e));
    svg += Line(p.left, y, p.left + p.width, y, "#d0d0d0", 1);
    if (depthLabels) svg += Label(p.left - 6, y + 4, "end", PowerOfTen(e));
  }
  if (!rhoDecades) return;
  for (int e = static_cast<int>(std::ceil(p.xLow)); e <= static_cast<int>(std::floor(p.xHigh));
       ++e) {
    const double x = p.X(std::pow(10.0, e));
    svg += Line(x, p.top, x, p.Bottom(), "#d0d0d0", 1);
    svg += Label(x, p.Bottom() + kTickLabelDrop, "middle", PowerOfTen(e));
  }
}

// The density image: one cell per depth and resistivity bin holding samples.
void DrawDensity(std::string& svg, const Panel& p, const DensityImage& image) {
  svg += std::string("<g class=\"density\" fill=\"") + kPosteriorColour + "\">\n";
  const std::vector<double>& z = image.log10DepthEdges;
  const std::vector<double>& v = image.log10RhoEdges;
  for (size_t d = 0; d < image.share.size(); ++d) {
    const double most = Largest(image.share[d]);
    if (!(most > 0)) continue;
    const double y1 = p.Y(std::pow(10.0, z[d])), y2 = p.Y(std::pow(10.0, z[d + 1]));
    for (size_t r = 0; r < image.share[d].size(); ++r) {
      const double share = image.share[d][r];
      if (!(share > 0)) continue;
      const double x1 = p.X(std::pow(10.0, v[r])), x2 = p.X(std::pow(10.0, v[r + 1]));
      svg += Rect(x1, y1, x2 - x1, y2 - y1,
                  Printf(" fill-opacity=\"%.3f\"", kMostOpacity * share / most).c_str()) +
             "\n";
    }
  }
  svg += "</g>\n";
}

// The 5 %, 50 % and 95 % curves of log10 resistivity, the median solid.
void DrawProfile(std::string& svg, const Panel& p, const DepthProfile& profile) {
  for (size_t k : {size_t{0}, size_t{2}, size_t{4}}) {
    std::string points;
    for (size_t i = 0; i < profile.depth.size(); ++i) {
      const double v = std::clamp(profile.log10Rho[i][k], p.xLow, p.xHigh);
      points += Printf("%.2f,%.2f ", p.X(std::pow(10.0, v)), p.Y(profile.depth[i]));
    }
    svg += std::string("<polyline class=\"") + (k == 2 ? "median" : "quantile") +
           "\" fill=\"none\" stroke=\"" + kPosteriorColour + "\" stroke-width=\"" +
           (k == 2 ? "2" : "1.5\" stroke-dasharray=\"6,4") + "\" points=\"" + points + "\"/>\n";
  }
}

// A layered earth as steps, clipped to the panel.
void DrawModel(std::string& svg, const Panel& p, const DepthModel& m) {
  const double shallow = std::pow(10.0, p.yHigh), deep = std::pow(10.0, p.yLow);
  auto x = [&](double r) {
    return p.X(std::clamp(r, std::pow(10.0, p.xLow), std::pow(10.0, p.xHigh)));
  };
  auto y = [&](double z) { return p.Y(std::clamp(z, shallow, deep)); };
  std::string points;
  double depth = 0;
  for (size_t j = 0; j < m.resistivity.size(); ++j) {
    const double r = m.resistivity[j];
    if (!(r > 0) || !std::isfinite(r)) break;
    const double below = j < m.thickness.size() ? depth + m.thickness[j] : deep;
    points += Printf("%.2f,%.2f %.2f,%.2f ", x(r), y(depth), x(r), y(below));
    depth = below;
  }
  svg += "<polyline class=\"model\" fill=\"none\" stroke=\"" + m.colour +
         "\" stroke-width=\"2\" points=\"" + points + "\"/>\n";
}

// Interfaces per sample in each depth bin, as bars from the left, on the depth panel's axis.
void DrawInterfaceHistogram(std::string& svg, const Panel& depth, const PosteriorPlot& plot) {
  const Panel p{kHistogramLeft, depth.top,  kHistogramWidth, depth.height, depth.xLow,
                depth.xHigh,    depth.yLow, depth.yHigh,     true};
  DrawDepthGrid(svg, p, false, false);
  const double most = Largest(plot.interfaceShare);
  const std::vector<double>& z = plot.density.log10DepthEdges;
  svg += std::string("<g class=\"interfaces\" fill=\"") + kPosteriorColour +
         "\" fill-opacity=\"0.7\">\n";
  for (size_t d = 0; d < plot.interfaceShare.size() && d + 1 < z.size(); ++d) {
    if (!(plot.interfaceShare[d] > 0)) continue;
    const double y1 = p.Y(std::pow(10.0, z[d])), y2 = p.Y(std::pow(10.0, z[d + 1]));
    svg += Rect(p.left, y1, p.width * plot.interfaceShare[d] / most, y2 - y1, "") + "\n";
  }
  svg += "</g>\n";
  svg += Frame(p.left, p.top, p.width, p.height, "frame interfaces");
  svg += Label(p.left, p.Bottom() + kTickLabelDrop, "start", "0");
  svg += Label(p.left + p.width, p.Bottom() + kTickLabelDrop, "end", Printf("%.2g", most));
  svg +=
      Label(p.left + p.width / 2, p.Bottom() + kAxisTitleDrop, "middle", "Interfaces per sample");
}

// The share of the samples with each number of layers, as bars.
void DrawLayerHistogram(std::string& svg, double top, const std::vector<double>& share) {
  const double most = Largest(share);
  const double bar = share.empty() ? 0 : kLayersWidth / static_cast<double>(share.size());
  svg +=
      std::string("<g class=\"layers\" fill=\"") + kPosteriorColour + "\" fill-opacity=\"0.7\">\n";
  for (size_t k = 0; k < share.size(); ++k) {
    if (!(share[k] > 0)) continue;
    const double h = kLayersHeight * share[k] / most;
    svg += Rect(kLayersLeft + bar * static_cast<double>(k) + 1, top + kLayersHeight - h, bar - 2, h,
                "") +
           "\n";
  }
  svg += "</g>\n";
  for (size_t k = 1; k <= share.size(); ++k) {
    if (k != 1 && k % kLayerLabelStep != 0) continue;
    svg += Label(kLayersLeft + bar * (static_cast<double>(k) - 0.5), top + kLayersHeight + 18,
                 "middle", std::to_string(k));
  }
  svg += Frame(kLayersLeft, top, kLayersWidth, kLayersHeight, "frame layers");
  svg += Label(kLayersLeft - 6, top + kLayersHeight + 4, "end", "0");
  svg += Label(kLayersLeft - 6, top + 4, "end", Printf("%.2g", most));
  svg += Label(kLayersLeft + kLayersWidth / 2, top + kLayersHeight + kAxisTitleDrop, "middle",
               "Number of layers");
  svg += AxisTitle(kLayersLeft - 50, top + kLayersHeight / 2, "Share of samples");
}

// The band of the sampled responses and their median.
void DrawBand(std::string& svg, const Panel& p, const ResponseBand& band, bool resistivity) {
  std::string upper, lower, median;
  for (size_t i = 0; i < band.period.size(); ++i) {
    const std::array<double, 3>& v = resistivity ? band.log10Rho[i] : band.phase[i];
    if (!std::isfinite(v[0]) || !std::isfinite(v[2])) continue;
    auto y = [&](double value) {
      return std::clamp(p.Y(resistivity ? std::pow(10.0, value) : value), p.top, p.Bottom());
    };
    const double x = p.X(band.period[i]);
    upper += Printf("%.2f,%.2f ", x, y(v[2]));
    lower = Printf("%.2f,%.2f ", x, y(v[0])) + lower;
    median += Printf("%.2f,%.2f ", x, y(v[1]));
  }
  svg += std::string("<polygon class=\"band\" fill=\"") + kPosteriorColour +
         Printf("\" fill-opacity=\"%.2f\" stroke=\"none\" points=\"", kBandOpacity) + upper +
         lower + "\"/>\n";
  svg += std::string("<polyline class=\"band-median\" fill=\"none\" stroke=\"") + kPosteriorColour +
         "\" stroke-width=\"1.5\" points=\"" + median + "\"/>\n";
}

// The data panels' axes: periods of every point and of the band, values of the used points
// and of the band.
void DataAxes(const PosteriorPlot& plot, double top, Panel& rho, Panel& phase, double& phaseStep) {
  double pLow = INFINITY, pHigh = -INFINITY, rLow = INFINITY, rHigh = -INFINITY;
  double phLow = INFINITY, phHigh = -INFINITY;
  auto take = [&](double period, double r, double ph, bool used) {
    if (!(period > 0) || !std::isfinite(period)) return;
    pLow = std::min(pLow, period);
    pHigh = std::max(pHigh, period);
    if (!used) return;
    if (r > 0 && std::isfinite(r)) rLow = std::min(rLow, r), rHigh = std::max(rHigh, r);
    if (std::isfinite(ph)) phLow = std::min(phLow, ph), phHigh = std::max(phHigh, ph);
  };
  for (const MeasuredMark& m : plot.data) take(m.period, m.resistivity, m.phase, m.used);
  for (size_t i = 0; i < plot.band.period.size(); ++i) {
    for (size_t k : {size_t{0}, size_t{2}}) {
      take(plot.band.period[i], std::pow(10.0, plot.band.log10Rho[i][k]), plot.band.phase[i][k],
           true);
    }
  }
  double xLow, xHigh, yLow, yHigh, phFrom, phTo;
  LogAxisAround(pLow, pHigh, xLow, xHigh);
  LogAxisAround(rLow, rHigh, yLow, yHigh);
  phaseStep = PhaseAxisAround(phLow, phHigh, phFrom, phTo);
  rho = {kLeft, top, kDataWidth, kDataHeight, xLow, xHigh, yLow, yHigh, true};
  phase = {kPhaseLeft, top, kDataWidth, kDataHeight, xLow, xHigh, phFrom, phTo, false};
}

}  // namespace

std::string FormatPosteriorSvg(const PosteriorPlot& plot) {
  const DensityImage& image = plot.density;
  if (image.log10DepthEdges.size() < 2 || image.log10RhoEdges.size() < 2) {
    return SvgOpening(kWidth, 120, kWidth / 2, plot.title) + "</svg>\n";
  }
  std::vector<LegendEntry> depthLegend = {
      {LegendEntry::kBox, kPosteriorColour, "posterior density (each depth's largest darkest)"},
      {LegendEntry::kLine, kPosteriorColour, "median"},
      {LegendEntry::kDashedLine, kPosteriorColour, "5 % and 95 %"}};
  for (const DepthModel& m : plot.models)
    depthLegend.push_back({LegendEntry::kLine, m.colour, m.label});
  const double legendWidth = kLayersLeft - kLeft;
  const double top = kLegendTop + kLegendRow * (LegendRows(depthLegend, legendWidth) - 1) + 16;
  const Panel depth{kLeft,
                    top,
                    kDepthWidth,
                    kUpperHeight,
                    image.log10RhoEdges.front(),
                    image.log10RhoEdges.back(),
                    image.log10DepthEdges.back(),
                    image.log10DepthEdges.front(),
                    true};

  bool anyLeftOut = false;
  for (const MeasuredMark& m : plot.data) anyLeftOut = anyLeftOut || !m.used;
  std::vector<LegendEntry> dataLegend = {
      {LegendEntry::kOpenMarker, kMeasuredColour, "measured, with standard errors"}};
  if (anyLeftOut)
    dataLegend.push_back({LegendEntry::kOpenMarker, kLeftOutColour, "left out of the fit"});
  dataLegend.push_back(
      {LegendEntry::kBox, kPosteriorColour, "5-95 % of the sampled models' responses"});
  dataLegend.push_back({LegendEntry::kLine, kPosteriorColour, "their median"});
  const double dataLegendTop = depth.Bottom() + kAxisTitleDrop + 44;
  const double dataTop =
      dataLegendTop + kLegendRow * (LegendRows(dataLegend, kWidth - kLeft - kRightMargin) - 1) + 16;
  Panel rho{}, phase{};
  double phaseStep = 0;
  DataAxes(plot, dataTop, rho, phase, phaseStep);
  const double height = dataTop + kDataHeight + kAxisTitleDrop + 20;

  std::string svg = SvgOpening(kWidth, height, kWidth / 2, plot.title);
  if (!plot.note.empty()) svg += Label(kWidth / 2, 52, "middle", Escaped(plot.note));
  DrawLegend(svg, kLeft, kLegendTop, legendWidth, depthLegend);
  DrawDepthGrid(svg, depth, true, true);
  DrawDensity(svg, depth, image);
  DrawProfile(svg, depth, plot.profile);
  for (const DepthModel& m : plot.models) DrawModel(svg, depth, m);
  svg += Frame(depth.left, depth.top, depth.width, depth.height, "frame depth");
  svg += Label(depth.left + depth.width / 2, depth.Bottom() + kAxisTitleDrop, "middle",
               "Resistivity (ohm-m)");
  svg += AxisTitle(depth.left - 62, depth.top + depth.height / 2, "Depth (m)");
  DrawInterfaceHistogram(svg, depth, plot);
  DrawLayerHistogram(svg, top, plot.layerShare);
  double y = top + kLayersHeight + kAxisTitleDrop + 36;
  for (const std::string& line : plot.summary) {
    svg += Label(kLayersLeft - 50, y, "start", Escaped(line));
    y += kLegendRow;
  }

  DrawLegend(svg, kLeft, dataLegendTop, kWidth - kLeft - kRightMargin, dataLegend);
  DrawAxes(svg, rho, true, phaseStep, "Apparent resistivity (ohm-m)", true);
  DrawBand(svg, rho, plot.band, true);
  DrawMarks(svg, rho, plot.data, true);
  DrawAxes(svg, phase, false, phaseStep, "Phase (degrees)", true);
  DrawBand(svg, phase, plot.band, false);
  DrawMarks(svg, phase, plot.data, false);
  for (const Panel* p : {&rho, &phase}) {
    svg += Label(p->left + p->width / 2, p->Bottom() + kAxisTitleDrop, "middle", "Period (s)");
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace vesk1::mt
