// The readers of measured soundings and the responses they reduce a file to.
#include "mt/readers/readers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "mt/response.h"
#include "mt/sounding.h"

namespace vesk1::mt {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadian = 180.0 / kPi;

struct Expected {
  double period, resistivity, resistivityError, phase, phaseError;
};

void ExpectPoints(const ReadResult& read, const std::vector<Expected>& expected, int leftOut,
                  const std::string& label) {
  ASSERT_EQ(read.error, "") << label;
  const std::vector<MeasuredPoint> used = UsedPoints(read.sounding);
  ASSERT_EQ(used.size(), expected.size()) << label;
  EXPECT_EQ(read.sounding.Count(PointStatus::kMissing), leftOut) << label;
  for (size_t i = 0; i < expected.size(); ++i) {
    const MeasuredPoint& p = used[i];
    const Expected& e = expected[i];
    EXPECT_NEAR(p.period, e.period, 1e-12 * e.period) << label << " point " << i;
    EXPECT_NEAR(p.resistivity, e.resistivity, 1e-9 * e.resistivity) << label << " point " << i;
    EXPECT_NEAR(p.resistivityError, e.resistivityError, 1e-9 * e.resistivity)
        << label << " point " << i;
    EXPECT_NEAR(p.phase, e.phase, 1e-9) << label << " point " << i;
    EXPECT_NEAR(p.phaseError, e.phaseError, 1e-9) << label << " point " << i;
  }
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

// The conversions against values worked by hand: rho_a = 0.2 T |Z|^2, phase = arg Z.
TEST(ApparentResistivity_FieldUnits, HandValues) {
  struct Case {
    std::complex<double> z;
    double period, resistivity, phase;
  };
  const Case cases[] = {
      {{1, 1}, 1.0, 0.4, 45.0},     {{10, 0}, 1.0, 20.0, 0.0},
      {{5, 0}, 0.04, 0.2, 0.0},     {{0, 2}, 10.0, 8.0, 90.0},
      {{-1, -1}, 2.0, 0.8, -135.0}, {{3, 4}, 0.5, 2.5, 53.13010235415598},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(ApparentResistivity(c.z, c.period), c.resistivity, 1e-14 * c.resistivity);
    EXPECT_NEAR(PhaseDegrees(c.z), c.phase, 1e-12);
  }
}

// Relative error of rho_a 2 dZ/|Z| and of the phase dZ/|Z| radians; the floor raises dZ to a
// fraction of |Z| and never lowers it.
TEST(PointFromImpedance_Errors, CarriedOrRaisedToTheFloor) {
  struct Case {
    double dZ, floor, resistivityError, phaseError;
  };
  // |Z| = 5 at T = 1: rho_a = 5.
  const Case cases[] = {
      {0.5, 0.05, 1.0, 0.1 * kRadian},   // dZ/|Z| = 0.1 above the floor
      {0.1, 0.05, 0.5, 0.05 * kRadian},  // 0.02 raised to the floor
      {0.0, 0.0, 0.0, 0.0},              // no error and no floor
      {0.0, 0.2, 2.0, 0.2 * kRadian},
  };
  for (const Case& c : cases) {
    const MeasuredPoint p = PointFromImpedance(1.0, {3, 4}, c.dZ, c.floor);
    EXPECT_DOUBLE_EQ(p.resistivity, 5.0);
    EXPECT_NEAR(p.resistivityError, c.resistivityError, 1e-12) << c.dZ << " " << c.floor;
    EXPECT_NEAR(p.phaseError, c.phaseError, 1e-12) << c.dZ << " " << c.floor;
  }
}

// Zxy = 1 + i, Zyx = -1 - i, Zxx = Zyy = 0 at 10 Hz and 1 Hz (given in descending order), Zxy =
// 2 + 2i at 1 Hz; variances 0.08 for Zxy at 1 Hz. Values wrap over lines, counts follow //.
constexpr const char* kImpedanceEdi = R"(>HEAD
  DATAID="SITE1"
  EMPTY=1.0E32
>!****FREQUENCIES****!
>FREQ NFREQ=2 ORDER=DEC //2
  1.0E+01
  1.0E+00
>ZROT //2
  0 0
>ZXXR ROT=ZROT //2
  0 0
>ZXXI ROT=ZROT //2
  0 0
>ZXYR ROT=ZROT //2
  1
  2
>ZXYI ROT=ZROT //2
  1 2
>ZXY.VAR ROT=ZROT //2
  0 0.08
>ZYXR ROT=ZROT //2
  -1 -1
>ZYXI ROT=ZROT //2
  -1 -1
>ZYYR ROT=ZROT //2
  0 0
>ZYYI ROT=ZROT //2
  0 0
>END
)";

TEST(ParseEdi_ImpedanceSections, EachComponentAndTheDeterminant) {
  // At 1 Hz: Zxy = 2 + 2i (|Z| = 2.83, dZ = 0.283 = 0.1 |Z|), -Zyx = 1 + i.
  const double f5 = 0.05 * kRadian;
  struct Case {
    Component component;
    std::vector<Expected> points;
  };
  const Case cases[] = {
      {Component::kXY, {{0.1, 0.04, 0.004, 45, f5}, {1, 1.6, 0.32, 45, 0.1 * kRadian}}},
      {Component::kYX, {{0.1, 0.04, 0.004, 45, f5}, {1, 0.4, 0.04, 45, f5}}},
      // (Zxy - Zyx) / 2 = 1.5 + 1.5i at 1 Hz, dZ = sqrt(0.08) / 2 = 0.0667 |Z|.
      {Component::kMean,
       {{0.1, 0.04, 0.004, 45, f5},
        {1, 0.9, 0.12, 45, std::sqrt(0.08) / 2 / (1.5 * std::sqrt(2.0)) * kRadian}}},
      // sqrt(-(2 + 2i)(-1 - i)) = sqrt(2) (1 + i): rho = 0.2 * 4 = 0.8; dZ = |Zyx| sqrt(var) /
      // (2 |Zdet|) = sqrt(2) * sqrt(0.08) / 4 = 0.1, 0.05 |Z|.
      {Component::kDeterminant, {{0.1, 0.04, 0.004, 45, f5}, {1, 0.8, 0.08, 45, f5}}},
  };
  for (const Case& c : cases) {
    ReadOptions options;
    options.component = c.component;
    ExpectPoints(ParseEdi(kImpedanceEdi, "site.edi", options), c.points, 0,
                 ComponentName(c.component));
  }
}

// The same file with CR LF line ends, tabs between values, a lone comment, unknown sections and
// a byte-order mark reads the same.
TEST(ParseEdi_LineEndsAndTabs, SameSounding) {
  std::string text;
  for (char c : std::string(kImpedanceEdi)) {
    if (c == '\n') {
      text += "\r\n";
    } else if (c == ' ') {
      text += '\t';
    } else {
      text += c;
    }
  }
  text.insert(text.find(">FREQ"),
              ">INFO\r\n  MAXINFO=999\r\n  free text 1 2 3\r\n>=DEFINEMEAS\r\n");
  // A UTF-8 byte-order mark before it, as some editors write, changes nothing either.
  text = "\xEF\xBB\xBF" + text;
  const ReadResult plain = ParseEdi(kImpedanceEdi, "a.edi", {});
  const ReadResult crlf = ParseSounding(text, "b.edi", {});
  ASSERT_EQ(crlf.error, "");
  ASSERT_EQ(crlf.sounding.points.size(), plain.sounding.points.size());
  for (size_t i = 0; i < plain.sounding.points.size(); ++i) {
    EXPECT_EQ(crlf.sounding.points[i].resistivity, plain.sounding.points[i].resistivity);
    EXPECT_EQ(crlf.sounding.points[i].phase, plain.sounding.points[i].phase);
  }
}

// A frequency with a value equal to EMPTY (here declared as -999, on the header line or on a
// line of its own) is left out and counted; the others stay. The frequencies come unordered.
TEST(ParseEdi_EmptyValues, PointLeftOutAndCounted) {
  const char* body = R"(
>FREQ //3
 1 100 10
>ZXYR //3
 1 -999 1
>ZXYI //3
 1 1 1
)";
  for (const char* head : {">HEAD EMPTY=-999.", ">HEAD\n  DATAID=\"A B\"\n  EMPTY = -999.\n"}) {
    ReadOptions options;
    options.component = Component::kXY;
    const double f5 = 0.05 * kRadian;
    ExpectPoints(ParseEdi(std::string(head) + body, "e.edi", options),
                 {{0.1, 0.04, 0.004, 45, f5}, {1, 0.4, 0.04, 45, f5}}, 1, head);
  }
}

// Apparent resistivity and phase sections with their errors; the yx phase in the third
// quadrant is brought to the first, the determinant is the geometric mean and mean phase.
TEST(ParseEdi_ResistivityAndPhaseSections, ComponentsWithTheirErrors) {
  const char* text = R"(>HEAD
>FREQ //1
 0.5
>RHOROT //1
 0
>RHOXY //1
 100
>RHOXY.ERR //1
 20
>PHSXY //1
 45
>PHSXY.ERR //1
 3
>RHOYX //1
 400
>RHOYX.ERR //1
 4
>PHSYX //1
 -135
>PHSYX.ERR //1
 0.5
)";
  struct Case {
    Component component;
    Expected point;
  };
  // xy: the larger of 20/(2*100) = 0.1 and 3 degrees (0.052 rad); yx: raised to the floor.
  const Case cases[] = {
      {Component::kXY, {2, 100, 20, 45, 0.1 * kRadian}},
      {Component::kYX, {2, 400, 40, 45, 0.05 * kRadian}},
      // dZ/|Z| = hypot(0.1, 0.5 degrees) / 2 = 0.0502, the errors before the floor.
      {Component::kDeterminant,
       {2, 200, 200 * std::hypot(0.1, 0.5 / kRadian), 45,
        std::hypot(0.1, 0.5 / kRadian) / 2 * kRadian}},
  };
  for (const Case& c : cases) {
    ReadOptions options;
    options.component = c.component;
    ExpectPoints(ParseEdi(text, "r.edi", options), {c.point}, 0, ComponentName(c.component));
  }
}

// A spectra block: H auto-powers 2, cross-powers S(E, H) = 2 Z for Zxx = 0.5, Zxy = 1 + 2i,
// Zyx = -3 - i, Zyy = -0.5i. Stored by rows, (i, j) for i < j the real and (j, i) the imaginary
// part of S(i, j) with the channels HX HY HZ EX EY. At 0.5 Hz the xy response is 1 + 2i:
// rho_a = 0.2 * 2 * 5 = 2, phase atan(2).
constexpr const char* kSpectraEdi = R"(>HEAD
>HMEAS ID=11 CHTYPE=HX
>HMEAS ID=12 CHTYPE=HY
>HMEAS ID=13 CHTYPE=HZ
>EMEAS ID=14 CHTYPE=EX
>EMEAS ID=15 CHTYPE=EY
>=SPECTRASECT NCHAN=5 NFREQ=1 //5
 11 12 13 14 15
>SPECTRA FREQ=0.5 ROTSPEC=0 AVGT=100 //25
 2 0 0 1 -6
 0 2 0 2 0
 0 0 1 0 0
 0 -4 0 10 0
 2 1 0 0 10
)";

TEST(ParseEdi_Spectra, ImpedanceFromCrossPowers) {
  ReadOptions options;
  options.component = Component::kXY;
  const ReadResult xy = ParseEdi(kSpectraEdi, "s.edi", options);
  ExpectPoints(xy, {{2, 2, 0.2, std::atan(2.0) * kRadian, 0.05 * kRadian}}, 0, "spectra xy");
  options.component = Component::kDeterminant;
  const ReadResult det = ParseEdi(kSpectraEdi, "s.edi", options);
  const std::complex<double> z = std::sqrt(std::complex<double>(1, 6.75));
  ExpectPoints(
      det, {{2, 0.4 * std::norm(z), 0.04 * std::norm(z), std::arg(z) * kRadian, 0.05 * kRadian}}, 0,
      "spectra det");
}

// Seven channels: the last two are the remote magnetic channels, whatever their type says.
// S(E, H) is zero, so only the remote-reference estimate Z = S(E, R) S(H, R)^-1 has a value.
TEST(ParseEdi_SpectraRemoteReference, ImpedanceFromTheReferenceChannels) {
  const char* text = R"(>HEAD
>HMEAS ID=1 CHTYPE=HX
>HMEAS ID=2 CHTYPE=HY
>HMEAS ID=3 CHTYPE=HZ
>EMEAS ID=4 CHTYPE=EX
>EMEAS ID=5 CHTYPE=EY
>HMEAS ID=6 CHTYPE=HX
>HMEAS ID=7 CHTYPE=HY
>=SPECTRASECT
  SECTID="RR"
  NCHAN=7
  NFREQ=1
//7
 1 2 3 4 5 6 7
>SPECTRA FREQ=0.5 //49
 5 0 0 0 0 2 0
 0 5 0 0 0 0 2
 0 0 1 0 0 0 0
 0 0 0 9 0 1 2
 0 0 0 0 9 -6 0
 0 0 0 0 -2 3 0
 0 0 0 4 -1 0 3
)";
  ReadOptions options;
  options.component = Component::kXY;
  const ReadResult read = ParseEdi(text, "rr.edi", options);
  ExpectPoints(read, {{2, 2, 0.2, std::atan(2.0) * kRadian, 0.05 * kRadian}}, 0, "remote");
  EXPECT_EQ(read.sounding.source, "spectra with remote reference");
}

TEST(ParseCsv_NamedColumns, ColumnsInAnyOrderFrequencyToPeriod) {
  const char* text =
      "# measured at site 1\n"
      "Phase (deg), Frequency (Hz), Rho_a (ohm-m), Rho error, Phase error\n"
      "45, 10, 100, 30, 1\n"
      "50, 1, 200, , 10\n"
      "40, 0.1, , 5, 1\n";
  // Point 1: rho error 30 > 2 * 5% of 100; phase error raised to 0.05 rad. Point 2: rho error
  // raised to 20, phase 10 degrees kept. The third lacks its resistivity.
  ExpectPoints(ParseCsv(text, "d.csv", {}),
               {{0.1, 100, 30, 45, 0.05 * kRadian}, {1, 200, 20, 50, 10}}, 1, "csv");
}

TEST(FormatSoundingCsv_ReadBack, SamePoints) {
  const ReadResult first = ParseEdi(kImpedanceEdi, "site.edi", {});
  const ReadResult again = ParseCsv(FormatSoundingCsv(first.sounding), "again.csv", {});
  ASSERT_EQ(again.error, "");
  ASSERT_EQ(again.sounding.points.size(), first.sounding.points.size());
  for (size_t i = 0; i < first.sounding.points.size(); ++i) {
    EXPECT_NEAR(again.sounding.points[i].resistivity, first.sounding.points[i].resistivity, 1e-8);
    EXPECT_NEAR(again.sounding.points[i].phaseError, first.sounding.points[i].phaseError, 1e-7);
  }
}

TEST(ParseSounding_BadFiles, MessageNamesFileLineAndSection) {
  struct Case {
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {">HEAD\n>FREQ //3\n 1 2\n>ZXYR //2\n 1 1\n",
       "f.edi: line 3, section >FREQ: expected 3 values, found 2"},
      {">FREQ //2\n 1 2\n>ZXYR //2\n 1 abc\n>ZXYI //2\n 1 1\n",
       "f.edi: line 4, section >ZXYR: \"abc\" is not a number"},
      {">FREQ //2\n 1 2\n>ZXYR //3\n 1 1 1\n>ZXYI //2\n 1 1\n",
       "f.edi: line 3, section >ZXYR: 3 values for 2 frequencies"},
      {">FREQ //2\n 1 2\n>ZXYR //2\n 1E32 1E32\n>ZXYI //2\n 1 1\n",
       "f.edi: no usable frequency (2 left out for missing values)"},
      {">FREQ //1\n -1\n>ZXYR //1\n 1\n>ZXYI //1\n 1\n",
       "f.edi: line 2, section >FREQ: frequency -1 is not positive"},
      {">FREQ //x\n 1\n", "f.edi: line 1, section >FREQ: the count after // is not a number"},
      {">HEAD\n>INFO\n text\n",
       "f.edi: no impedance (>ZXYR), apparent resistivity (>RHOXY) or "
       "spectra (>SPECTRA) sections"},
      {">HEAD\n>FREQ //1\n 1\n>ZXYR //1\n 1\n",
       "f.edi: no >ZXYI section, which the xy response needs"},
      {">=SPECTRASECT NCHAN=2 //2\n 1 2\n>SPECTRA FREQ=1 //4\n 1 0 0 1\n",
       "f.edi: line 1, section >=SPECTRASECT: NCHAN=2 is not a channel count of 4 to 64"},
      {">SPECTRA FREQ=1 //25\n" + std::string(25 * 2, ' '),
       "f.edi: line 1, section >SPECTRA: expected 25 values, found 0"},
      {"", "f.edi: no header line naming the columns"},
      {"period,rho\n1,2\n",
       "f.edi: line 1: the header must name a period (or frequency), an "
       "apparent resistivity and a phase column"},
      {"period,rho,phase\n1,2\n", "f.edi: line 2: 2 fields under a header of 3"},
      {"period,rho,phase\n1,-2,45\n", "f.edi: line 2: apparent resistivity -2 is negative"},
      // Values that cannot be right, in EDI and in CSV.
      {">FREQ //1\n INF\n>ZXYR //1\n 1\n>ZXYI //1\n 1\n",
       "f.edi: line 2, section >FREQ: \"INF\" is not a finite number"},
      {">FREQ //2\n 1 1e400\n>ZXYR //2\n 1 1\n>ZXYI //2\n 1 1\n",
       "f.edi: line 2, section >FREQ: \"1e400\" is not a finite number"},
      {">FREQ //1\n 1e-320\n>ZXYR //1\n 1\n>ZXYI //1\n 1\n",
       "f.edi: line 2, section >FREQ: frequency 1e-320 is outside 1e-10 to 1e10 Hz"},
      {">FREQ //1\n 0\n>ZXYR //1\n 1\n>ZXYI //1\n 1\n",
       "f.edi: line 2, section >FREQ: frequency 0 is not positive"},
      {">FREQ //1\n 1\n>ZXYR //1\n 1\n>ZXYI //1\n 1e200\n",
       "f.edi: line 6, section >ZXYI: impedance 1e200 is out of range (magnitude above 1e30)"},
      {">FREQ //1\n 1\n>ZXYR //1\n 1\n>ZXYI //1\n 1\n>ZXY.VAR //1\n -1\n",
       "f.edi: line 8, section >ZXY.VAR: variance -1 is negative"},
      {">FREQ //1\n 1\n>RHOXY //1\n 10\n>PHSXY //1\n 45\n>RHOXY.ERR //1\n inf\n",
       "f.edi: line 8, section >RHOXY.ERR: \"inf\" is not a finite number"},
      {"frequency,rho,phase\n1e-320,2,45\n",
       "f.edi: line 2: frequency 1e-320 is outside 1e-10 to 1e10 Hz"},
      {"period,rho,phase,rho_err\n1,2,45,inf\n", "f.edi: line 2: \"inf\" is not a finite number"},
      {"period,rho,phase,status\n1,2,45,kept\n",
       "f.edi: line 2: status \"kept\" is not used, excluded, out-of-quadrant or missing"},
      // A spectra file whose statements of its channels disagree.
      {Replace(kSpectraEdi, "//5", "// 6"),
       "f.edi: line 7, section >=SPECTRASECT: NCHAN=5 but the count after // is 6"},
      {Replace(kSpectraEdi, " 11 12 13 14 15", " 11 12 13 14 15 16"),
       "f.edi: line 8, section >=SPECTRASECT: 6 channel identifiers for 5 channels"},
      {Replace(kSpectraEdi, " 11 12 13 14 15", " 11 12 13 19 15"),
       "f.edi: line 8, section >=SPECTRASECT: channel \"19\" is not the ID of a >HMEAS or >EMEAS "
       "section"},
      {Replace(kSpectraEdi, "//25", "//16"),
       "f.edi: line 9, section >SPECTRA: //16 disagrees with 5 channels (25 values)"},
      {Replace(kSpectraEdi, "FREQ=0.5", "FREQ=1e400"),
       "f.edi: line 9, section >SPECTRA: \"1e400\" is not a finite number"},
  };
  for (const Case& c : cases) {
    ReadOptions options;
    options.component = Component::kXY;
    const ReadResult read = ParseSounding(c.text, "f.edi", options);
    EXPECT_EQ(read.error, c.error) << c.text;
    EXPECT_TRUE(read.sounding.points.empty()) << c.text;
  }
}

// An off-diagonal tensor given at 30 degrees: Zxy = 1 + i, Zyx = -2 - 2i, but Zxy = 1 - i at
// 1 Hz (phase -45, out of its quadrant) and missing at 0.01 Hz; tipper sections beside it.
// Periods 0.01, 0.1, 1, 10 and 100 s; the xy apparent resistivity is 0.4 T, the determinant's
// 0.8 T, and turned by 90 degrees the xy response is -Zyx, 1.6 T.
constexpr const char* kOptionsEdi = R"(>HEAD
>FREQ //5
 100 10 1 0.1 0.01
>ZROT //5
 30 30 30 30 30
>ZXXR //5
 0 0 0 0 0
>ZXXI //5
 0 0 0 0 0
>ZXYR //5
 1 1 1 1 1E32
>ZXYI //5
 1 1 -1 1 1
>ZYXR //5
 -2 -2 -2 -2 -2
>ZYXI //5
 -2 -2 -2 -2 -2
>ZYYR //5
 0 0 0 0 0
>ZYYI //5
 0 0 0 0 0
>TXR.EXP //5
 0 0 0 0 0
)";

// Each option of a measured sounding: the status of every period (u used, x excluded, q out of
// quadrant, m missing), the first point's values and the summary line.
TEST(ParseEdi_ReadOptions, StatusesValuesAndSummary) {
  struct Case {
    std::string options;
    std::string statuses;
    double resistivity, resistivityError, phaseError;
    std::string summary;
  };
  const double f5 = 0.05 * kRadian;
  const std::string head = "o.edi: ";
  const std::string given = "; given at 30 degrees (ZROT)";
  const std::string rest = "; tipper sections not used; 1 left out for missing values";
  const std::string fitted = "; 1 phase outside 0 to 90 degrees, fitted";
  const Case cases[] = {
      {"", "uuuum", 0.004, 0.0004, f5,
       head + "4 periods from impedance sections, xy response, error floor 5%" + given + rest +
           fitted},
      {"periods 0.05:20", "xuuum", 0.04, 0.004, f5,
       head + "3 periods from impedance sections, xy response, error floor 5%" + given + rest +
           "; 1 outside --periods 0.05:20" + fitted},
      {"exclude 0.5:2,8:12", "uuxxm", 0.004, 0.0004, f5,
       head + "2 periods from impedance sections, xy response, error floor 5%" + given + rest +
           "; 2 in --exclude-periods"},
      {"drop", "uuqum", 0.004, 0.0004, f5,
       head + "3 periods from impedance sections, xy response, error floor 5%" + given + rest +
           "; 1 phase outside 0 to 90 degrees, left out"},
      {"shift 2", "uuuum", 0.008, 0.0008, f5,
       head + "4 periods from impedance sections, xy response, error floor 5%, static shift 2" +
           given + rest + fitted},
      // The errors of 0.008: 2 * 5 % = 0.0008 raised to 50 %; the phase's 2.86 degrees to 10.
      {"shift 2 rho-floor 0.5 phase-floor 10", "uuuum", 0.008, 0.004, 10,
       head +
           "4 periods from impedance sections, xy response, error floor 5%, apparent "
           "resistivity floor 50%, phase floor 10 degrees, static shift 2" +
           given + rest + fitted},
      {"rotate 30", "uuuum", 0.004, 0.0004, f5,
       head + "4 periods from impedance sections, xy response, error floor 5%" + given +
           ", rotated to 30 degrees" + rest + fitted},
      {"rotate 120", "uuuum", 0.016, 0.0016, f5,
       head + "4 periods from impedance sections, xy response, error floor 5%" + given +
           ", rotated to 120 degrees" + rest},
      {"det", "uuuum", 0.008, 0.0008, f5,
       head + "4 periods from impedance sections, det response, error floor 5%" + given + rest},
      {"det rotate -47", "uuuum", 0.008, 0.0008, f5,
       head + "4 periods from impedance sections, det response, error floor 5%" + given +
           ", rotated to -47 degrees" + rest},
  };
  for (const Case& c : cases) {
    ReadOptions options;
    options.component = c.options.find("det") == 0 ? Component::kDeterminant : Component::kXY;
    std::istringstream words(c.options);
    for (std::string word; words >> word;) {
      std::string value;
      if (word != "det" && word != "drop") words >> value;
      if (word == "periods") options.keep = PeriodBand{0.05, 20};
      if (word == "exclude") options.exclude = {{0.5, 2}, {8, 12}};
      if (word == "drop") options.dropOutOfQuadrant = true;
      if (word == "shift") options.staticShift = std::stod(value);
      if (word == "rho-floor") options.rhoFloor = std::stod(value);
      if (word == "phase-floor") options.phaseFloor = std::stod(value);
      if (word == "rotate") options.rotateTo = std::stod(value);
    }
    const ReadResult read = ParseEdi(kOptionsEdi, "o.edi", options);
    ASSERT_EQ(read.error, "") << c.options;
    std::string statuses;
    for (const MeasuredPoint& p : read.sounding.points) statuses += "uxqm"[int(p.status)];
    EXPECT_EQ(statuses, c.statuses) << c.options;
    const MeasuredPoint& first = read.sounding.points[c.statuses[0] == 'u' ? 0 : 1];
    EXPECT_NEAR(first.resistivity, c.resistivity, 1e-12) << c.options;
    EXPECT_NEAR(first.resistivityError, c.resistivityError, 1e-12) << c.options;
    EXPECT_NEAR(first.phaseError, c.phaseError, 1e-9) << c.options;
    EXPECT_EQ(SoundingSummary("o.edi", read.sounding, options), c.summary);
  }
}

// Spectra of a known earth with a remote reference and noisy local magnetic channels
// (tests/mt/cross_powers/make_cross_powers.py), the channel list in three layouts: the determinant
// agrees with the script's own remote-reference conversion within 3 % and 1.5 degrees.
TEST(ParseEdi_SpectraLayouts, DeterminantAgreesWithAnIndependentConversion) {
  std::ifstream expectedFile(VESK1_CROSS_POWER_DIR "/remote_reference_expected.csv");
  std::vector<Expected> expected;
  std::string line;
  std::getline(expectedFile, line);
  for (double f, rho, phase; std::getline(expectedFile, line);) {
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf", &f, &rho, &phase), 3) << line;
    expected.push_back({1 / f, rho, 0, phase, 0});  // by decreasing frequency
  }
  ASSERT_EQ(expected.size(), 15u);
  for (const char* layout : {"inline", "apart", "joined"}) {
    const std::string path = std::string(VESK1_CROSS_POWER_DIR "/remote_reference_") + layout + ".edi";
    std::ifstream file(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    const ReadResult read = ParseEdi(text, path, {});
    ASSERT_EQ(read.error, "") << layout;
    EXPECT_EQ(read.sounding.source, "spectra with remote reference") << layout;
    ASSERT_EQ(read.sounding.points.size(), expected.size()) << layout;
    for (size_t i = 0; i < expected.size(); ++i) {
      const MeasuredPoint& p = read.sounding.points[i];
      EXPECT_NEAR(p.period, expected[i].period, 1e-6 * p.period) << layout << " " << i;
      EXPECT_NEAR(p.resistivity, expected[i].resistivity, 0.03 * expected[i].resistivity)
          << layout << " " << i;
      EXPECT_NEAR(p.phase, expected[i].phase, 1.5) << layout << " " << i;
    }
  }
  // Turned to the strike, 25 degrees clockwise from north, the tensor is off-diagonal with
  // Zxy = 1.3 Z1D and Zyx = -Z1D / 1.3: rho_xy / rho_yx = 1.3^4 (turned the other way, about 0.9).
  std::ifstream file(VESK1_CROSS_POWER_DIR "/remote_reference_inline.edi", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ReadOptions options;
  options.rotateTo = 25;
  options.component = Component::kXY;
  const ReadResult xy = ParseEdi(text, "s.edi", options);
  options.component = Component::kYX;
  const ReadResult yx = ParseEdi(text, "s.edi", options);
  ASSERT_EQ(xy.sounding.points.size(), yx.sounding.points.size());
  for (size_t i = 0; i < xy.sounding.points.size(); ++i) {
    EXPECT_NEAR(xy.sounding.points[i].resistivity / yx.sounding.points[i].resistivity,
                std::pow(1.3, 4), 0.1 * std::pow(1.3, 4))
        << i;
  }
}

TEST(ParseComponent_Names, KnownNamesOnly) {
  Component c = Component::kXY;
  EXPECT_TRUE(ParseComponent("det", c));
  EXPECT_EQ(c, Component::kDeterminant);
  EXPECT_TRUE(ParseComponent("YX", c));
  EXPECT_EQ(c, Component::kYX);
  EXPECT_TRUE(ParseComponent("mean", c));
  EXPECT_EQ(c, Component::kMean);
  EXPECT_FALSE(ParseComponent("zz", c));
  EXPECT_EQ(c, Component::kMean);
}

}  // namespace
}  // namespace vesk1::mt
