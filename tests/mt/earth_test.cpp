#include "mt/earth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace vesk1::mt {
namespace {

TEST(ParseModel_WellFormedFiles, LayersFromTheTopDown) {
  struct Case {
    const char* text;
    std::vector<double> resistivity;
    std::vector<double> thickness;
  };
  const Case cases[] = {
      {"100\n", {100}, {}},
      {"# a comment line\n  100 250   # top\n\n10 1e3\r\n1000", {100, 10, 1000}, {250, 1000}},
      {"\t5.5\t20\n0.3 # basement\n", {5.5, 0.3}, {20}},
  };
  for (const Case& c : cases) {
    const ModelParse parse = ParseModel(c.text);
    EXPECT_EQ(parse.error, "") << c.text;
    EXPECT_EQ(parse.earth.resistivity, c.resistivity) << c.text;
    EXPECT_EQ(parse.earth.thickness, c.thickness) << c.text;
  }
}

TEST(ParseModel_MalformedFiles, ErrorNamesTheLine) {
  std::string tooMany;
  for (int i = 0; i < 63; ++i) tooMany += "10 10\n";
  tooMany += "10\n";
  struct Case {
    std::string text;
    std::string errorStart;
  };
  const Case cases[] = {
      {"", "line 0: no layers"},
      {"# only a comment\n\n", "line 2: no layers"},
      {"100 20\n", "line 1: the last layer is the half-space"},
      {"100 20\n10 30\n", "line 2: the last layer is the half-space"},
      {"100\n10\n", "line 1: only the last layer"},
      {"100 20\n10\n# end\n1\n", "line 2: only the last layer"},
      {"abc 20\n1\n", "line 1: resistivity \"abc\""},
      {"100 20\n-5\n", "line 2: resistivity \"-5\""},
      {"0 20\n5\n", "line 1: resistivity \"0\""},
      {"1e60 20\n5\n", "line 1: resistivity \"1e60\""},
      {"nan 20\n5\n", "line 1: resistivity \"nan\""},
      {"100 20m\n5\n", "line 1: thickness \"20m\""},
      {"100 -20\n5\n", "line 1: thickness \"-20\""},
      {"100 inf\n5\n", "line 1: thickness \"inf\""},
      {"\n\n100 20 7\n5\n", "line 3: expected a resistivity and a thickness, found 3"},
      {tooMany, "line 64: more than 63 layers"},
  };
  for (const Case& c : cases) {
    const ModelParse parse = ParseModel(c.text);
    EXPECT_EQ(parse.error.rfind(c.errorStart, 0), 0u) << parse.error << "\n for: " << c.text;
  }
}

TEST(ParseModel_SixtyThreeLayers, Accepted) {
  std::string text;
  for (int i = 0; i < 62; ++i) text += "10 10\n";
  text += "10\n";
  EXPECT_EQ(ParseModel(text).error, "");
}

TEST(ParsePeriodList, ValidAndInvalidLists) {
  EXPECT_EQ(ParsePeriodList("0.01,1,1e3").periods, (std::vector<float>{0.01f, 1.0f, 1000.0f}));
  for (const char* bad : {"", "1,,2", "1,-2", "0", "1,x", "1,2,"}) {
    const PeriodsParse parse = ParsePeriodList(bad);
    EXPECT_NE(parse.error, "") << bad;
    EXPECT_TRUE(parse.periods.empty()) << bad;
  }
}

TEST(LogSpacedPeriods, EndsExactAndEvenRatios) {
  const PeriodsParse parse = LogSpacedPeriods(0.001, 10000, 40);
  ASSERT_EQ(parse.periods.size(), 40u);
  EXPECT_EQ(parse.periods.front(), 0.001f);
  EXPECT_EQ(parse.periods.back(), 10000.0f);
  const double ratio = std::pow(1e7, 1.0 / 39);
  for (size_t i = 1; i < parse.periods.size(); ++i) {
    EXPECT_NEAR(parse.periods[i] / parse.periods[i - 1], ratio, 1e-6 * ratio) << i;
  }
  EXPECT_EQ(LogSpacedPeriods(5, 50, 1).periods, std::vector<float>{5.0f});
  EXPECT_NE(LogSpacedPeriods(0, 10, 5).error, "");
  EXPECT_NE(LogSpacedPeriods(1, 10, 0).error, "");
}

}  // namespace
}  // namespace vesk1::mt
