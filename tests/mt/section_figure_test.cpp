// The profile's figure: its colour scales, each station's column between the midpoints to its
// neighbours, and the shading below each depth of investigation.
#include "mt/section_figure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace vesk1::mt {
namespace {

TEST(SectionColours_Scales, AnchorsAtTheEndsAndBetween) {
  EXPECT_EQ(ResistivityColour(0), "#a50026");
  EXPECT_EQ(ResistivityColour(1), "#313695");
  EXPECT_EQ(ResistivityColour(0.5), "#efeac4");  // half way from #fee090 to #e0f3f8
  EXPECT_EQ(ResistivityColour(-3), "#a50026");
  EXPECT_EQ(ResistivityColour(std::nan("")), "#a50026");
  EXPECT_EQ(PhaseColour(0), "#440154");
  EXPECT_EQ(PhaseColour(2), "#fde725");
}

std::string Group(const std::string& svg, const std::string& name) {
  const size_t start = svg.find("<g class=\"" + name + "\">");
  return start == std::string::npos ? "" : svg.substr(start, svg.find("</g>", start) - start);
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// Stations at 0, 1 and 3 km: columns from -0.5 to 0.5, 0.5 to 2 and 2 to 4 km over the 760
// points of the section from x = 80; two layers, the interface at 100 m, the depth axis from
// 10 m to 10 km (three decades over 320 points from y = 96).
TEST(FormatSectionSvg_ThreeStations, ColumnsBetweenMidpointsShadedBelowInvestigation) {
  SectionPlot plot;
  plot.title = "t";
  plot.thickness = {100};
  plot.maxDepth = 10000;
  const double doi[] = {1000, 5000, std::nan("")};
  const double at[] = {0, 1000, 3000};
  for (int s = 0; s < 3; ++s) {
    SectionStation st;
    st.name = std::string(1, static_cast<char>('1' + s));
    st.distance = at[s];
    st.log10Rho = {2, 1};
    st.investigationDepth = doi[s];
    st.rms = 1;
    plot.stations.push_back(st);
  }
  const std::string svg = FormatSectionSvg(plot);
  const std::string model = Group(svg, "model-section");
  EXPECT_EQ(Count(model, "<rect "), 6u);
  EXPECT_NE(model.find("<rect x=\"80.00\" y=\"96.00\" width=\"169.19\" height=\"106.97\""),
            std::string::npos)
      << model;
  EXPECT_NE(model.find("<rect x=\"248.89\" y=\"202.67\" width=\"253.63\" height=\"213.63\""),
            std::string::npos)
      << model;
  EXPECT_NE(model.find("<rect x=\"502.22\" "), std::string::npos) << model;
  const std::string shade = Group(svg, "below-investigation");
  EXPECT_EQ(Count(shade, "<rect "), 2u);
  EXPECT_NE(shade.find("<rect x=\"80.00\" y=\"309.33\" width=\"168.89\" height=\"106.67\""),
            std::string::npos)
      << shade;
  EXPECT_NE(shade.find("<rect x=\"248.89\" y=\"383.89\" "), std::string::npos) << shade;
  EXPECT_NE(Group(svg, "stations").find(">3<"), std::string::npos);
}

}  // namespace
}  // namespace vesk1::mt
