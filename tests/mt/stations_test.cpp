// Station positions: degrees as files write them, metres on the tangent plane, the projection
// onto the profile's line, the table of positions and the position an EDI header gives.
#include "mt/stations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "mt/readers/readers.h"

namespace vesk1::mt {
namespace {

TEST(ParseDegrees_Forms, DecimalAndSexagesimalWithinTheLimit) {
  struct Case {
    const char* text;
    double limit;
    bool valid;
    double degrees;
  };
  const Case cases[] = {
      {"-30:31:12.3", 90, true, -(30 + 31 / 60.0 + 12.3 / 3600)},
      {"+138:39:53.52", 360, true, 138 + 39 / 60.0 + 53.52 / 3600},
      {" -0:30 ", 90, true, -0.5},
      {"-30.52", 90, true, -30.52},
      {"90", 90, true, 90},
      {"90:00:01", 90, false, 0},
      {"30:60:00", 90, false, 0},
      {"30:5.5:10", 90, false, 0},
      {"1e1", 90, false, 0},
      {"30:10:20:1", 90, false, 0},
      {"", 90, false, 0},
      {"-", 90, false, 0},
  };
  for (const Case& c : cases) {
    const std::optional<double> value = ParseDegrees(c.text, c.limit);
    ASSERT_EQ(value.has_value(), c.valid) << c.text;
    if (c.valid) {
      EXPECT_NEAR(*value, c.degrees, 1e-12) << c.text;
    }
  }
}

// A degree of latitude at 30 degrees is 110852 m, of longitude 96486 m (WGS84).
TEST(LocalMetres_AtThirtyDegrees, MetresPerDegreeOfTheEllipsoid) {
  const std::vector<PlanePoint> p =
      LocalMetres({{29.995, 179.995, 0}, {30.005, -179.995, 0}});
  ASSERT_EQ(p.size(), 2u);
  EXPECT_NEAR(p[1].north - p[0].north, 0.01 * 110852, 0.05);
  EXPECT_NEAR(p[1].east - p[0].east, 0.01 * 96486, 0.05);  // across the date line
  EXPECT_NEAR(p[0].east + p[1].east, 0, 1e-6);
}

TEST(ProjectOntoLine_ScatteredLine, DistancesOffsetsAndWorst) {
  // Points 1 km apart on a line 62 degrees east of north, moved across it by the offsets.
  const double az = 62 * std::acos(-1.0) / 180;
  const double offsets[] = {10, -25, 30, -25, 10};  // uncorrelated with the distance
  std::vector<PlanePoint> points;
  for (int k = 0; k < 5; ++k) {
    const double along = 1000.0 * k + 500, across = offsets[k];
    points.push_back({along * std::sin(az) - across * std::cos(az),
                      along * std::cos(az) + across * std::sin(az)});
  }
  // Fitted, and given as 62 degrees and as 242 (the other way along the same line).
  for (double given : {-1.0, 62.0, 242.0}) {
    const LineProjection line =
        ProjectOntoLine(points, given < 0 ? std::nullopt : std::optional<double>(given));
    const double sign = given == 242.0 ? -1 : 1;
    EXPECT_NEAR(line.azimuth, given == 242.0 ? 242 : 62, 1e-9) << given;
    for (int k = 0; k < 5; ++k) {
      EXPECT_NEAR(line.distance[k], given == 242.0 ? 4000 - 1000.0 * k : 1000.0 * k, 1e-6)
          << given << " point " << k;
      EXPECT_NEAR(line.offset[k], sign * offsets[k], 1e-6) << given << " point " << k;
    }
    EXPECT_EQ(line.worst, 2u) << given;
  }
}

TEST(ProjectOntoLine_DueNorthAndOnePlace, AzimuthFromZeroToBelowOneEighty) {
  EXPECT_NEAR(ProjectOntoLine({{0, 300}, {0, -300}, {0, 0}}, std::nullopt).azimuth, 0, 1e-12);
  EXPECT_NEAR(ProjectOntoLine({{-300, 300}, {300, -300}}, std::nullopt).azimuth, 135, 1e-9);
  const LineProjection one = ProjectOntoLine({{5, 5}, {5, 5}}, std::nullopt);
  EXPECT_EQ(one.distance, (std::vector<double>{0, 0}));
}

TEST(ParseStationTable_Rows, HeaderCommentsAndErrors) {
  const StationTable t =
      ParseStationTable("name,x,y\n# a comment\nS01, 10, -20.5  # east, north\n\nS02,1e3,0\n",
                        "pos.csv");
  ASSERT_EQ(t.error, "");
  ASSERT_EQ(t.byName.size(), 2u);
  EXPECT_EQ(t.byName.at("S01").east, 10);
  EXPECT_EQ(t.byName.at("S01").north, -20.5);
  EXPECT_EQ(t.byName.at("S02").east, 1000);
  const struct {
    const char* text;
    const char* error;
  } bad[] = {
      {"S01,1,2\nS01,3,4\n", "pos.csv: line 2: S01 is given twice"},
      {"S01,1,2\nS02,x,4\n", "pos.csv: line 2: the position of S02 is not two finite numbers of "
                             "metres"},
      {"S01,1\n", "pos.csv: line 1: expected name,x,y"},
      {",1,2\n", "pos.csv: line 1: expected name,x,y"},
  };
  for (const auto& b : bad) EXPECT_EQ(ParseStationTable(b.text, "pos.csv").error, b.error);
}

constexpr const char* kEdiTail = R"(>FREQ //1
  1.0
>ZXYR //1
  1
>ZXYI //1
  1
>END
)";

TEST(ParseEdi_Position, HeadThenDefineMeasOrWhyNot) {
  struct Case {
    const char* head;
    bool found;
    GeoPosition position;
    const char* problem;
  };
  const double nan = std::nan("");
  const Case cases[] = {
      {">HEAD\n LAT=-30:31:12.3 LONG=+138:39:53.52\n ELEV=420.5\n", true,
       {-(30 + 31 / 60.0 + 12.3 / 3600), 138 + 39 / 60.0 + 53.52 / 3600, 420.5}, ""},
      {">HEAD\n DATAID=X\n>=DEFINEMEAS\n REFLAT=12.5\n REFLONG=-7.25\n", true, {12.5, -7.25, nan},
       ""},
      {">HEAD\n LAT=1 LONG=2\n>=DEFINEMEAS\n REFLAT=3 REFLONG=4\n", true, {1, 2, nan}, ""},
      {">HEAD\n DATAID=X\n", false, {}, ""},
      {">HEAD\n\n LAT=91:00:00\n LONG=2\n", false, {},
       "s.edi: line 3, section >HEAD: LAT=91:00:00 is not degrees (D.DDD or D:M:S) from -90 to "
       "90"},
      {">HEAD\n LONG=2\n", false, {}, "s.edi: line 2, section >HEAD: no LAT="},
      {">HEAD\n LAT=1 LONG=2 ELEV=high\n", false, {},
       "s.edi: line 2, section >HEAD: ELEV=high is not a number of metres"},
  };
  ReadOptions xy;
  xy.component = Component::kXY;
  for (const Case& c : cases) {
    const ReadResult read = ParseEdi(std::string(c.head) + kEdiTail, "s.edi", xy);
    ASSERT_EQ(read.error, "") << c.head;
    EXPECT_EQ(read.sounding.positionProblem, c.problem) << c.head;
    ASSERT_EQ(read.sounding.position.has_value(), c.found) << c.head;
    if (!c.found) continue;
    EXPECT_NEAR(read.sounding.position->latitude, c.position.latitude, 1e-12) << c.head;
    EXPECT_NEAR(read.sounding.position->longitude, c.position.longitude, 1e-12) << c.head;
    if (std::isnan(c.position.elevation)) {
      EXPECT_TRUE(std::isnan(read.sounding.position->elevation)) << c.head;
    } else {
      EXPECT_EQ(read.sounding.position->elevation, c.position.elevation) << c.head;
    }
  }
}

}  // namespace
}  // namespace vesk1::mt
