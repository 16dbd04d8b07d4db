#include "mt/svg.h"

#include <algorithm>
#include <cmath>

#include "mt/format.h"

namespace vesk1::mt::svg {
namespace {

// A logarithmic axis reaches this share of its span (at least the least margin, in decades)
// beyond the values it shows, so none lies on the frame.
constexpr double kMarginShare = 0.08, kLeastMargin = 0.1;
// The phase axis: at least 0 to 90 degrees, in whole grid steps, this many degrees beyond the
// values.
constexpr double kPhaseMargin = 2;
// The width of a character of a legend's text, estimated.
constexpr double kCharWidth = 6.6;
constexpr double kRadius = 3;

double EntryWidth(const LegendEntry& e) {
  return 26 + kCharWidth * static_cast<double>(e.text.size()) + 18;
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

}  // namespace

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

std::string Line(double x1, double y1, double x2, double y2, const std::string& colour,
                 double width, const char* extra) {
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
    } else if (e.sample == LegendEntry::kBox) {
      svg += Printf("<rect x=\"%.1f\" y=\"%.1f\" width=\"20\" height=\"10\" ", x, y - 9) +
             "fill=\"" + e.colour + "\" fill-opacity=\"0.5\"/>";
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

}  // namespace vesk1::mt::svg
