#include "mt/figures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "mt/curve.h"
#include "mt/posterior_figure.h"

namespace vesk1::mt {
namespace {

// A small well-formedness check: every tag closes in order, attributes are quoted, and '&'
// only starts a known entity. Returns an empty string when the document is well-formed.
std::string XmlProblem(const std::string& xml) {
  std::vector<std::string> open;
  size_t at = 0;
  if (xml.rfind("<?xml", 0) == 0) at = xml.find("?>") + 2;
  bool root = false;
  while (at < xml.size()) {
    if (xml[at] == '&') {
      const size_t semicolon = xml.find(';', at);
      const std::string entity = xml.substr(at, semicolon - at + 1);
      if (entity != "&amp;" && entity != "&lt;" && entity != "&gt;" && entity != "&quot;" &&
          entity != "&apos;") {
        return "bad entity at " + std::to_string(at);
      }
      at = semicolon + 1;
      continue;
    }
    if (xml[at] == '>') return "stray '>' at " + std::to_string(at);
    if (xml[at] != '<') {
      if (open.empty() && !std::isspace(static_cast<unsigned char>(xml[at]))) {
        return "text outside the root at " + std::to_string(at);
      }
      ++at;
      continue;
    }
    // A tag: scan to its end, honouring quoted attribute values.
    size_t end = at + 1;
    char quote = 0;
    while (end < xml.size() && (quote != 0 || xml[end] != '>')) {
      if (quote == 0 && (xml[end] == '"' || xml[end] == '\'')) {
        quote = xml[end];
      } else if (quote != 0 && xml[end] == quote) {
        quote = 0;
      } else if (xml[end] == '<') {
        return "'<' inside a tag at " + std::to_string(end);
      }
      ++end;
    }
    if (end >= xml.size()) return "unterminated tag at " + std::to_string(at);
    std::string tag = xml.substr(at + 1, end - at - 1);
    if (tag.empty()) return "empty tag";
    if (tag[0] == '/') {
      const std::string name = tag.substr(1);
      if (open.empty() || open.back() != name) return "unexpected </" + name + ">";
      open.pop_back();
    } else {
      const bool selfClosing = tag.back() == '/';
      std::istringstream words(tag);
      std::string name;
      words >> name;
      if (name.back() == '/') name.pop_back();
      // Attributes: name="value" pairs.
      const std::string attributes =
          tag.substr(name.size(), tag.size() - name.size() - (selfClosing ? 1 : 0));
      size_t a = 0;
      while (a < attributes.size()) {
        if (std::isspace(static_cast<unsigned char>(attributes[a]))) {
          ++a;
          continue;
        }
        const size_t equals = attributes.find('=', a);
        if (equals == std::string::npos || equals + 1 >= attributes.size() ||
            attributes[equals + 1] != '"') {
          return "unquoted attribute in <" + name + ">";
        }
        const size_t close = attributes.find('"', equals + 2);
        if (close == std::string::npos) return "unterminated attribute in <" + name + ">";
        a = close + 1;
      }
      if (open.empty() && root) return "second root element <" + name + ">";
      root = true;
      if (!selfClosing) open.push_back(name);
    }
    at = end + 1;
  }
  if (!open.empty()) return "<" + open.back() + "> never closed";
  return root ? "" : "no root element";
}

std::vector<CurvePoint> SampleCurve() {
  std::vector<CurvePoint> curve;
  for (int i = 0; i < 40; ++i) {
    const double period = 0.001 * std::pow(1e7, i / 39.0);
    curve.push_back({period, 100.0 / (1 + std::log10(period) * std::log10(period)),
                     45 + 10 * std::sin(i / 5.0)});
  }
  curve[7].resistivity = NAN;
  curve[7].phase = NAN;
  return curve;
}

TEST(FormatSvg_Curves, WellFormed) {
  const std::vector<CurvePoint> empty;
  const std::vector<CurvePoint> allMissing = {{1.0, NAN, NAN}, {10.0, NAN, NAN}};
  const std::vector<CurvePoint> single = {{2.0, 30.0, 45.0}};
  for (const auto* curve : {&empty, &allMissing, &single}) {
    EXPECT_EQ(XmlProblem(FormatSvg(*curve, "t")), "");
  }
  const std::string svg = FormatSvg(SampleCurve(), "model <a&b> \"x\"");
  EXPECT_EQ(XmlProblem(svg), "");
  EXPECT_NE(svg.find("model &lt;a&amp;b&gt; &quot;x&quot;"), std::string::npos);
}

// The checker itself must catch the faults it is there for.
TEST(XmlProblem_BrokenDocuments, Reported) {
  for (const char* bad : {"<svg><g></svg>", "<svg a=1/>", "<svg>&nbsp;</svg>", "<svg>",
                          "<svg/><svg/>", "<svg>a < b</svg>"}) {
    EXPECT_NE(XmlProblem(bad), "") << bad;
  }
}

TEST(FormatSvg_SampleCurve, DecadeLabelsAndAxisTitles) {
  const std::string svg = FormatSvg(SampleCurve(), "t");
  // Decades as powers of ten, never as 0.001 or 1e+06.
  for (const char* label : {">10<tspan dy=\"-6\" font-size=\"9\">\u22123</tspan>",
                            ">10<tspan dy=\"-6\" font-size=\"9\">0</tspan>",
                            ">10<tspan dy=\"-6\" font-size=\"9\">4</tspan>", ">90<", ">45<",
                            "Period (s)", "Apparent resistivity (ohm-m)", "Phase (degrees)"}) {
    EXPECT_NE(svg.find(label), std::string::npos) << label;
  }
  EXPECT_EQ(svg.find(">0.001<"), std::string::npos);
  EXPECT_EQ(svg.find("e+0"), std::string::npos);
  // The missing point splits the curve: two polylines per panel.
  size_t polylines = 0;
  for (size_t at = svg.find("<polyline"); at != std::string::npos;
       at = svg.find("<polyline", at + 1)) {
    ++polylines;
  }
  EXPECT_EQ(polylines, 4u);
}

// The attributes of every element `tag` in `svg` whose class is `cls` (any class when empty).
using Attributes = std::map<std::string, std::string>;
std::vector<Attributes> Elements(const std::string& svg, const std::string& tag,
                                 const std::string& cls = "") {
  std::vector<Attributes> found;
  for (size_t at = svg.find("<" + tag + " "); at != std::string::npos;
       at = svg.find("<" + tag + " ", at + 1)) {
    const std::string text = svg.substr(at, svg.find('>', at) - at);
    Attributes a;
    for (size_t eq = text.find("=\""); eq != std::string::npos; eq = text.find("=\"", eq + 1)) {
      const size_t name = text.find_last_of(' ', eq) + 1;
      const size_t close = text.find('"', eq + 2);
      a[text.substr(name, eq - name)] = text.substr(eq + 2, close - eq - 2);
      eq = close;
    }
    if (cls.empty() || a["class"] == cls) found.push_back(a);
  }
  return found;
}

double Number(const Attributes& a, const std::string& name) {
  return std::stod(a.at(name));
}

// The marks of the measured points: each group's text, from its opening to its end.
// The "x,y" pairs of a polyline's or a polygon's points.
std::vector<std::vector<double>> Points(const Attributes& a) {
  std::vector<std::vector<double>> points;
  std::istringstream pairs(a.at("points"));
  double x = 0, y = 0;
  char comma = 0;
  while (pairs >> x >> comma >> y) points.push_back({x, y});
  return points;
}

std::vector<std::string> Groups(const std::string& svg, const std::string& cls) {
  std::vector<std::string> groups;
  const std::string open = "<g class=\"" + cls + "\">";
  for (size_t at = svg.find(open); at != std::string::npos; at = svg.find(open, at + 1)) {
    groups.push_back(svg.substr(at, svg.find("</g>", at) - at));
  }
  return groups;
}

FitPlot ThreePoints() {
  FitPlot plot;
  plot.title = "t";
  // An error as large as the value, and small ones a decade lower and higher.
  plot.data = {{1, 100, 100, 45, 5}, {100, 10, 1, 30, 2}, {10, 1000, 10, 40, 2}};
  return plot;
}

// The bar of a resistivity spans rho / e to rho * e when the error equals the value: 0.434
// decades each way, not down to zero.
TEST(FormatFitSvg_ResistivityBars, SymmetricInLogarithm) {
  // Period 1 lies at 0.16 of the 600-pixel axis from x = 90 that runs from 10^-0.16 to 10^2.16.
  const std::string svg = FormatFitSvg(ThreePoints());
  EXPECT_EQ(XmlProblem(svg), "");
  const std::vector<std::string> marks = Groups(svg, "measured");
  ASSERT_EQ(marks.size(), 6u);  // three points in two panels
  const Attributes big = Elements(marks[0], "circle")[0], small = Elements(marks[1], "circle")[0];
  const double decade = Number(small, "cy") - Number(big, "cy");
  const Attributes bar = Elements(marks[0], "line")[0];
  EXPECT_NEAR(Number(big, "cy") - Number(bar, "y1"), std::log10(std::exp(1.0)) * decade, 0.02);
  EXPECT_NEAR(Number(bar, "y2") - Number(big, "cy"), std::log10(std::exp(1.0)) * decade, 0.02);
  EXPECT_EQ(Elements(marks[0], "line").size(), 3u);  // the bar and its two caps
  EXPECT_NEAR(Number(big, "cx"), 90 + 600 * 0.16 / 2.32, 0.01);
}

// A phase below 0 widens the axis; a point left out of the fit is drawn grey and open, and
// one beyond the axis as an arrow at the frame with its value.
TEST(FormatFitSvg_Phases, AxisCoversUsedPointsAndLeftOutOnesAreMarked) {
  FitPlot plot = ThreePoints();
  plot.data[1].phase = -30;
  plot.data.push_back({10, 20, 2, 50, 3, false});
  plot.data.push_back({3, 20, 2, -170, 3, false});
  const std::string svg = FormatFitSvg(plot);
  EXPECT_EQ(XmlProblem(svg), "");
  const std::vector<Attributes> frames = Elements(svg, "rect", "frame");
  ASSERT_EQ(frames.size(), 2u);
  const double top = Number(frames[1], "y"), bottom = top + Number(frames[1], "height");
  const std::vector<std::string> used = Groups(svg, "measured");
  ASSERT_EQ(used.size(), 6u);
  const double cy = Number(Elements(used[4], "circle")[0], "cy");
  EXPECT_GT(cy, top);
  EXPECT_LT(cy, bottom);
  EXPECT_NE(svg.find(">\u221230<"), std::string::npos);  // a grid line at -30 degrees
  const std::vector<std::string> leftOut = Groups(svg, "left-out");
  ASSERT_EQ(leftOut.size(), 3u);  // both in the resistivity panel, one in the phase panel
  EXPECT_NE(leftOut[2].find("stroke=\"#9a9a9a\""), std::string::npos);
  const std::vector<std::string> outside = Groups(svg, "outside");
  ASSERT_EQ(outside.size(), 1u);
  EXPECT_NE(outside[0].find(">\u2212170<"), std::string::npos);
  EXPECT_NE(svg.find(">left out of the fit<"), std::string::npos);
}

// Models whose resistivities are whole decades stay off the frame; the response has the
// model's colour in both panels and the true model another; every legend lies above the frames.
TEST(FormatFitSvg_DepthPanel, MarginsColoursAndLegends) {
  FitPlot plot = ThreePoints();
  plot.curve = {{1, 90, 40}, {100, 12, 35}};
  plot.curveLabel = "response";
  plot.models = {{{100, 10, 1000}, {500, 2000}, "recovered", kModelColour},
                 {{10, 1000}, {1000}, "true", kTrueModelColour}};
  const std::string svg = FormatFitSvg(plot);
  EXPECT_EQ(XmlProblem(svg), "");
  const Attributes depth = Elements(svg, "rect", "frame depth").at(0);
  const double left = Number(depth, "x"), right = left + Number(depth, "width");
  for (const Attributes& model : Elements(svg, "polyline", "model")) {
    std::istringstream points(model.at("points"));
    double x, y;
    char comma;
    while (points >> x >> comma >> y) {
      EXPECT_GT(x, left + 5);
      EXPECT_LT(x, right - 5);
    }
  }
  const std::vector<Attributes> responses = Elements(svg, "polyline", "response");
  ASSERT_EQ(responses.size(), 2u);
  for (const Attributes& r : responses) EXPECT_EQ(r.at("stroke"), kModelColour);
  EXPECT_EQ(svg.find(std::string("stroke=\"") + kTrueModelColour + "\" stroke-width=\"1.5"),
            std::string::npos);
  const double frameTop = Number(Elements(svg, "rect", "frame").at(0), "y");
  const std::vector<std::string> legends = Groups(svg, "legend");
  EXPECT_EQ(legends.size(), 4u);
  for (const std::string& legend : legends) {
    for (const Attributes& text : Elements(legend, "text")) EXPECT_LT(Number(text, "y"), frameTop);
  }
}

// The depth axis runs from the decade above the first interface to twice the depth of
// investigation, or to --max-depth; the dashed line lies at the depth of investigation.
TEST(FormatFitSvg_Investigation, LineAtItsDepthAndTheAxisToTwiceIt) {
  struct Case {
    double maxDepth, axisEnd;
  };
  for (const Case c : {Case{0, 2000}, Case{1e5, 1e5}}) {
    FitPlot plot = ThreePoints();
    plot.models = {{{100, 10, 1000}, {10, 90}, "recovered", kModelColour}};
    plot.investigationDepth = 1000;
    plot.maxDepth = c.maxDepth;
    const std::string svg = FormatFitSvg(plot);
    const Attributes depth = Elements(svg, "rect", "frame depth").at(0);
    const double top = Number(depth, "y"), height = Number(depth, "height");
    const std::vector<Attributes> line = Elements(svg, "line", "investigation");
    ASSERT_EQ(line.size(), 1u);
    EXPECT_NEAR(Number(line[0], "y1"), top + height * 2 / (std::log10(c.axisEnd) - 1), 0.01);
    EXPECT_EQ(Elements(svg, "rect", "below-investigation").size(), 1u);
  }
}

// The points the fit leaves out are drawn grey beside the used ones; a missing one not at all.
TEST(FitSvg_Statuses, LeftOutPointsGrey) {
  Sounding sounding;
  sounding.points = {{1, 100, 45, 10, 2},
                     {2, 80, 40, 8, 2, PointStatus::kExcluded},
                     {3, 70, -20, 7, 2, PointStatus::kOutOfQuadrant},
                     {4, NAN, NAN, NAN, NAN, PointStatus::kMissing}};
  const std::vector<MeasuredMark> marks = MarksOf(sounding);
  ASSERT_EQ(marks.size(), 3u);
  EXPECT_TRUE(marks[0].used);
  EXPECT_FALSE(marks[1].used);
  EXPECT_FALSE(marks[2].used);
  const std::string svg = FitSvg(sounding, {{1, 100, 45}}, {{100}, {}}, "t", "n");
  EXPECT_EQ(Groups(svg, "measured").size(), 2u);
  EXPECT_EQ(Groups(svg, "left-out").size() + Groups(svg, "outside").size(), 4u);
}

// Two depth bins (10 to 100 and 100 to 1000 m) by three of resistivity (1 to 1000 ohm-m) on a
// 430 by 430 panel: a cell is a third of its width and half its height.
TEST(FormatPosteriorSvg_SmallPosterior, CellsBarsAndCurvesWhereTheValuesSay) {
  PosteriorPlot plot;
  plot.title = "posterior";
  plot.density = {{1, 2, 3}, {0, 1, 2, 3}, {{0.5, 0.25, 0}, {0, 0, 0}}};
  plot.profile = {{10, 1000}, {{0, 0.5, 1, 1.5, 2}, {1, 1.5, 2, 2.5, 3}}};
  plot.models = {{{100, 10}, {50}, "Occam model", kModelColour}};
  plot.interfaceShare = {0.2, 0.4};
  plot.layerShare = {0, 0.5, 0.25};
  plot.data = {{1, 100, 10, 45, 2}, {10, 50, 5, 40, 2, false}};
  plot.band = {{1, 10}, {{1.9, 2, 2.1}, {1.6, 1.7, 1.8}}, {{40, 45, 50}, {35, 40, 45}}};
  const std::string svg = FormatPosteriorSvg(plot);
  EXPECT_EQ(XmlProblem(svg), "");
  const std::vector<std::string> density = Groups(svg, "density\" fill=\"#6a3d9a");
  ASSERT_EQ(density.size(), 1u);
  const std::vector<Attributes> cells = Elements(density[0], "rect");
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_DOUBLE_EQ(Number(cells[0], "x"), 90);
  EXPECT_NEAR(Number(cells[0], "width"), 430 / 3.0, 0.01);
  EXPECT_NEAR(Number(cells[1], "x"), 90 + 430 / 3.0, 0.01);
  EXPECT_NEAR(Number(cells[1], "height"), 215, 0.01);
  EXPECT_EQ(cells[0].at("fill-opacity"), "0.850");
  EXPECT_EQ(cells[1].at("fill-opacity"), "0.425");
  const std::vector<Attributes> interfaces =
      Elements(Groups(svg, "interfaces\" fill=\"#6a3d9a\" fill-opacity=\"0.7")[0], "rect");
  ASSERT_EQ(interfaces.size(), 2u);
  EXPECT_NEAR(Number(interfaces[0], "width"), 70, 0.01);
  EXPECT_NEAR(Number(interfaces[1], "width"), 140, 0.01);
  const std::vector<Attributes> bars =
      Elements(Groups(svg, "layers\" fill=\"#6a3d9a\" fill-opacity=\"0.7")[0], "rect");
  ASSERT_EQ(bars.size(), 2u);
  EXPECT_NEAR(Number(bars[0], "height"), 180, 0.01);
  EXPECT_NEAR(Number(bars[1], "height"), 90, 0.01);
  // The curves' abscissae: 10^v ohm-m at 90 + v / 3 * 430, the 5 % curve first.
  const std::vector<Attributes> median = Elements(svg, "polyline", "median");
  const std::vector<Attributes> quantiles = Elements(svg, "polyline", "quantile");
  ASSERT_EQ(median.size(), 1u);
  ASSERT_EQ(quantiles.size(), 2u);
  const auto xs = [](const Attributes& a) {
    std::vector<double> x;
    for (const std::vector<double>& point : Points(a)) x.push_back(point[0]);
    return x;
  };
  const std::vector<double> x5 = xs(quantiles[0]), x50 = xs(median[0]), x95 = xs(quantiles[1]);
  ASSERT_EQ(x5.size(), 2u);
  ASSERT_EQ(x50.size(), 2u);
  ASSERT_EQ(x95.size(), 2u);
  EXPECT_NEAR(x5[0], 90, 0.01);
  EXPECT_NEAR(x5[1], 90 + 430 / 3.0, 0.01);
  EXPECT_NEAR(x50[1], 90 + 2 * 430 / 3.0, 0.01);
  EXPECT_NEAR(x95[0], 90 + 2 * 430 / 3.0, 0.01);
  EXPECT_NEAR(x95[1], 520, 0.01);
  const std::vector<Attributes> model = Elements(svg, "polyline", "model");
  ASSERT_EQ(model.size(), 1u);
  EXPECT_EQ(model[0].at("stroke"), kModelColour);
  // The phase band: 95 % points forward, 5 % points back, on the scale its median gives.
  const std::vector<Attributes> band = Elements(svg, "polygon", "band");
  const std::vector<Attributes> bandMedian = Elements(svg, "polyline", "band-median");
  ASSERT_EQ(band.size(), 2u);
  ASSERT_EQ(bandMedian.size(), 2u);
  const std::vector<std::vector<double>> edge = Points(band[1]), middle = Points(bandMedian[1]);
  ASSERT_EQ(edge.size(), 4u);
  ASSERT_EQ(middle.size(), 2u);
  const double perDegree = (middle[1][1] - middle[0][1]) / (40.0 - 45.0);
  const auto y = [&](double degrees) { return middle[0][1] + (degrees - 45) * perDegree; };
  EXPECT_NEAR(edge[0][1], y(50), 0.02);
  EXPECT_NEAR(edge[1][1], y(45), 0.02);
  EXPECT_NEAR(edge[2][1], y(35), 0.02);
  EXPECT_NEAR(edge[3][1], y(40), 0.02);
  EXPECT_EQ(edge[0][0], edge[3][0]);
  EXPECT_EQ(Groups(svg, "measured").size(), 2u);  // one point in each data panel
  EXPECT_EQ(Groups(svg, "left-out").size(), 2u);
  for (const char* text : {">left out of the fit<", ">Occam model<", ">5 % and 95 %<",
                           ">Interfaces per sample<", ">Number of layers<"}) {
    EXPECT_NE(svg.find(text), std::string::npos) << text;
  }
}

TEST(FileName_Paths, TheLastPart) {
  EXPECT_EQ(FileName("/data/site 1/a.edi"), "a.edi");
  EXPECT_EQ(FileName("C:\\survey\\b.edi"), "b.edi");
  EXPECT_EQ(FileName("c.edi"), "c.edi");
}

TEST(FormatTable_Columns, AlignedUnderHeader) {
  const std::string table = FormatTable(SampleCurve());
  std::istringstream lines(table);
  std::string line;
  std::getline(lines, line);
  const size_t width = line.size();
  int rows = 0;
  while (std::getline(lines, line)) {
    EXPECT_EQ(line.size(), width) << line;
    ++rows;
  }
  EXPECT_EQ(rows, 40);
}

}  // namespace
}  // namespace vesk1::mt
