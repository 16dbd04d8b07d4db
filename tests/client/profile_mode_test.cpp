// vesk1_client profile as a user runs it: the example profile against the real server, and the
// stations' positions read, projected and refused before any server is asked.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "mt/earth.h"
#include "run_client.h"
#include "server_harness.h"
#include "sounding_server.h"
#include "support/spawn.h"

namespace vesk1::test {
namespace {

int CountLines(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) ++count;
  return count;
}

TEST(ClientProfile_ExampleProfile, SectionModelsAndTableOfEveryStation) {
  const std::string directory = ::testing::TempDir() + "/profile_e2e";
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory);
  SpawnResult run;
  {
    ServerProcess server(SoundingServer());
    ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 60000)) << server.Output();
    run = RunClientProgram(server.Root(), {"profile"},
                           "--list '" + std::string(VESK1_EXAMPLES_DIR) +
                               "/profile/files.txt' --layers 30 --svg '" + directory +
                               "/section.svg' --csv '" + directory + "/section.csv' --model-dir '" +
                               directory + "/models' --stop 7");
  }
  ASSERT_EQ(run.exitStatus, 0) << run.output << run.errors;
  EXPECT_EQ(run.output.rfind("12 stations on a line at azimuth 62.0 degrees, 10.977 km long; the "
                             "farthest from it is S01, 39 m off\n",
                             0),
            0u)
      << run.output;
  EXPECT_NE(run.output.find("\nS07                5.933          27          428.5       36  "),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("\niteration  1: RMS "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\nreached RMS "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\nS12               10.977 "), std::string::npos) << run.output;

  const std::string csv = ReadWholeFile(directory + "/section.csv");
  EXPECT_EQ(CountLines(csv), 1 + 12 * 30);
  EXPECT_EQ(csv.rfind("station,distance_m,top_m,bottom_m,log10_resistivity_ohm_m,rms,"
                      "investigation_depth_m\nS01,0,0,",
                      0),
            0u)
      << csv.substr(0, 200);
  // Each station's RMS in the table is the one printed for it (not the misfit of all data).
  const size_t misfits = run.output.find("station    distance (km)     RMS");
  ASSERT_NE(misfits, std::string::npos) << run.output;
  for (const char* name : {"S01", "S12"}) {
    const std::string line = std::string(1, '\n').append(name);
    const size_t printed = run.output.find(line + ' ', misfits);
    const size_t row = csv.find(line + ',');
    ASSERT_NE(printed, std::string::npos) << name;
    ASSERT_NE(row, std::string::npos) << name;
    double distance = 0, rms = 0, top = 0, bottom = 0, log10Rho = 0, csvRms = 0;
    std::istringstream(run.output.substr(printed + 4)) >> distance >> rms;
    char comma = 0;
    std::istringstream(csv.substr(row + 5)) >> distance >> comma >> top >> comma >> bottom >>
        comma >> log10Rho >> comma >> csvRms;
    EXPECT_NEAR(csvRms, rms, 5e-4) << name;
  }
  for (const char* name : {"S01", "S07", "S12"}) {
    const mt::ModelParse model =
        mt::ParseModel(ReadWholeFile(directory + "/models/" + name + ".txt"));
    EXPECT_EQ(model.error, "") << name;
    EXPECT_EQ(model.earth.resistivity.size(), 30u) << name;
  }
  const std::string figure = ReadWholeFile(directory + "/section.svg");
  EXPECT_NE(figure.find(">Laterally constrained inversion of 12 stations<"), std::string::npos);
  EXPECT_NE(figure.find(">S12<"), std::string::npos);
  EXPECT_NE(figure.find("class=\"below-investigation\""), std::string::npos);
}

// A station table and the projection onto --azimuth, printed before the client looks for a
// server (none listens here, so the run ends with status 3).
TEST(ClientProfile_StationTable, PositionsFromTheTableProjectedOntoTheAzimuth) {
  const std::string directory = ::testing::TempDir() + "/profile_table";
  std::filesystem::create_directories(directory);
  const std::string csv = "period_s,apparent_resistivity_ohm_m,phase_deg\n1,10,45\n10,20,40\n";
  for (const char* name : {"a", "b", "c"}) WriteWholeFile(directory + "/" + name + ".csv", csv);
  WriteWholeFile(directory + "/pos.csv", "name,x,y\nc,2000,50\na,0,0\nb,1000,-20\n");
  const SpawnResult run = RunClientProgram(
      directory, {"profile"},
      "--stations '" + directory + "/pos.csv' --azimuth 90 '" + directory + "/c.csv' '" +
          directory + "/a.csv' '" + directory + "/b.csv' 7");
  EXPECT_EQ(run.exitStatus, 3) << run.output << run.errors;
  EXPECT_EQ(run.output.substr(0, run.output.find("file\n") + 5),
            "3 stations on a line at azimuth 90.0 degrees (--azimuth), 2.000 km long; the "
            "farthest from it is c, 40 m off\n"
            "station    distance (km)  offset (m)  elevation (m)  periods  file\n");
  EXPECT_NE(run.output.find("\na                  0.000         -10              -        2  "),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("\nc                  2.000          40              -        2  "),
            std::string::npos)
      << run.output;
}

TEST(ClientProfile_BadInput, ExitTwoNamingTheFiles) {
  const std::string directory = ::testing::TempDir() + "/profile_bad";
  std::filesystem::create_directories(directory);
  const std::string d = directory + "/";
  const std::string csv = "period_s,apparent_resistivity_ohm_m,phase_deg\n1,10,45\n";
  const std::string edi = ">HEAD\n LAT=10:00:00\n LONG=20\n>FREQ //1\n 1\n>ZXYR //1\n 1\n"
                          ">ZXYI //1\n 1\n>END\n";
  WriteWholeFile(d + "p.csv", csv);
  WriteWholeFile(d + "q.csv", csv);
  WriteWholeFile(d + "e.edi", edi);
  std::filesystem::create_directories(d + "other");
  WriteWholeFile(d + "other/e.edi", edi);
  WriteWholeFile(d + "bad.edi", ">HEAD\n LAT=10:61:00\n LONG=20\n>FREQ //1\n 1\n>ZXYR //1\n 1\n"
                                ">ZXYI //1\n 1\n>END\n");
  WriteWholeFile(d + "pos.csv", "p,0,0\n");
  const std::string noPosition = ": no position (LAT and LONG in >HEAD, or REFLAT and REFLONG in "
                                 ">=DEFINEMEAS); give the stations' positions with --stations CSV";
  const struct {
    std::string arguments, errors;
  } cases[] = {
      {"'" + d + "p.csv' 7",
       "vesk1_client profile: a profile needs the files of two stations or more\n"
       "Try 'vesk1_client profile --help'.\n"},
      {"--component xy '" + d + "p.csv' '" + d + "e.edi' '" + d + "q.csv' 7",
       "vesk1_client profile: " + d + "p.csv" + noPosition + "\nvesk1_client profile: " + d +
           "q.csv" + noPosition + "\n"},
      {"--stations '" + d + "pos.csv' '" + d + "p.csv' '" + d + "q.csv' 7",
       "vesk1_client profile: " + d + "q.csv: station q is not in " + d + "pos.csv\n"},
      {"--component xy '" + d + "e.edi' '" + d + "other/e.edi' 7",
       "vesk1_client profile: " + d + "e.edi and " + d + "other/e.edi are both station e\n"},
      {"--component xy '" + d + "e.edi' '" + d + "bad.edi' 7",
       "vesk1_client profile: " + d + "bad.edi: line 2, section >HEAD: LAT=10:61:00 is not "
       "degrees (D.DDD or D:M:S) from -90 to 90\n"},
  };
  for (const auto& c : cases) {
    const SpawnResult run = RunClientProgram(directory, {"profile"}, c.arguments);
    EXPECT_EQ(run.exitStatus, 2) << c.arguments;
    EXPECT_EQ(run.errors, c.errors) << c.arguments;
  }
}

}  // namespace
}  // namespace vesk1::test
