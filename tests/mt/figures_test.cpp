#include "mt/figures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "mt/curve.h"

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
  for (const char* label : {">0.001<", ">1<", ">10000<", ">90<", ">45<", "Period (s)",
                            "Apparent resistivity (ohm-m)", "Phase (degrees)"}) {
    EXPECT_NE(svg.find(label), std::string::npos) << label;
  }
  // The missing point splits the curve: two polylines per panel.
  size_t polylines = 0;
  for (size_t at = svg.find("<polyline"); at != std::string::npos;
       at = svg.find("<polyline", at + 1)) {
    ++polylines;
  }
  EXPECT_EQ(polylines, 4u);
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
