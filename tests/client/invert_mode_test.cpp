// The measured-data modes of vesk1_client as a user runs them: data without a server, sounding
// with --data and invert against the real server running the sounding module, and the
// sensitivities the server's workers serve against finite differences in this process.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "client/pipe/server_engine.h"
#include "common/fdll_loader.h"
#include "finite_differences.h"
#include "in_process_engine.h"
#include "mt/earth.h"
#include "mt/mesh.h"
#include "run_client.h"
#include "server_harness.h"
#include "sounding_server.h"
#include "support/spawn.h"
#include "tests/fixtures/loaded_fdll.h"

namespace vesk1::test {
namespace {

int CountLines(const std::string& text, const std::string& start) {
  std::istringstream lines(text);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) count += line.rfind(start, 0) == 0 ? 1 : 0;
  return count;
}

// 40 periods by 50 layers, as the inversion asks for them: eight requests that the workers
// share, every derivative equal to central differences computed here in double precision.
TEST(ServedSensitivities_FiftyLayers, EqualFiniteDifferencesInThisProcess) {
  ServerProcess server(SoundingServer());
  ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 60000)) << server.Output();
  client::Connection connection = server.Connect();
  ASSERT_GE(connection.fd, 0);
  const std::vector<double> periods = LogPeriods(0.001, 10000, 40);
  const std::vector<double> thickness = mt::GeometricThicknesses(50, 30, 2e5);
  std::vector<double> model;
  for (int j = 0; j < 50; ++j) model.push_back(2.0 + std::sin(j / 5.0));
  client::ServerEngine engine(connection, 30000, periods, thickness);
  std::vector<double> served;
  std::string error;
  ASSERT_TRUE(engine.Sensitivities(model, served, error)) << error;
  EXPECT_EQ(engine.requests(), 8);
  client::Close(connection);

  const common::LoadedFdll fdll = common::LoadFdllFile(VESK1_FDLL_FILE);
  ASSERT_NE(fdll.recur, nullptr) << fdll.error;
  const std::vector<double> expected =
      FiniteDifferenceJacobian(fdll.recur, model, thickness, periods);
  ASSERT_EQ(served.size(), expected.size());
  for (size_t k = 0; k < served.size(); ++k) {
    ASSERT_NEAR(served[k], expected[k], 1e-4 + 1e-4 * std::fabs(expected[k])) << "entry " << k;
  }
}

constexpr const char* kSmallEdi =
    ">HEAD\r\n EMPTY=1.0E32\r\n>FREQ //3\r\n 10 1 0.1\r\n>ZXYR //3\r\n 1 2\r\n 1.0E32\r\n"
    ">ZXYI //3\r\n 1 2 1\r\n>ZYXR //3\r\n -1 -1 -1\r\n>ZYXI //3\r\n -1 -1 -1\r\n";

TEST(ClientData_EdiFile, PrintsTheSoundingWithoutAServer) {
  const std::string directory = ::testing::TempDir();
  WriteWholeFile(directory + "/site.edi", kSmallEdi);
  const SpawnResult result =
      RunClientProgram(directory, {"data"}, "--component xy '" + directory + "/site.edi'");
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitStatus, 0) << result.errors;
  EXPECT_EQ(result.output,
            "    period (s)  app. resistivity (ohm-m)  error (ohm-m)  phase (deg)  error (deg)  "
            "status\n"
            "           0.1                      0.04          0.004       45.000        2.865  "
            "used\n"
            "             1                       1.6           0.16       45.000        2.865  "
            "used\n"
            "            10                         -              -            -            -  "
            "missing\n");
  EXPECT_NE(result.errors.find("site.edi: 2 periods from impedance sections, xy response, error "
                               "floor 5%; 1 left out for missing values"),
            std::string::npos)
      << result.errors;
}

TEST(ClientData_Csv, CsvOutputReadsBack) {
  const std::string directory = ::testing::TempDir();
  WriteWholeFile(directory + "/site2.edi", kSmallEdi);
  const SpawnResult first =
      RunClientProgram(directory, {"data"},
                       "--csv - --component mean --error-floor 0.1 '" + directory + "/site2.edi'");
  ASSERT_EQ(first.exitStatus, 0) << first.errors;
  WriteWholeFile(directory + "/site2.csv", first.output);
  const SpawnResult again = RunClientProgram(
      directory, {"data"}, "--csv - --error-floor 0.1 '" + directory + "/site2.csv'");
  ASSERT_EQ(again.exitStatus, 0) << again.errors;
  EXPECT_EQ(again.output, first.output);
}

TEST(ClientData_BadFiles, ExitTwoWithFileLineAndSection) {
  const std::string directory = ::testing::TempDir();
  WriteWholeFile(directory + "/bad.edi", ">FREQ //2\n 1 2\n>ZXYR //2\n 1 x\n>ZXYI //2\n 1 1\n");
  // A FIFO without a writer would block a reader that opened it.
  const std::string fifo = directory + "/fifo.edi";
#ifndef _WIN32
  std::filesystem::remove(fifo);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
#endif
  struct Case {
    std::string arguments;
    std::string message;
  };
  const Case cases[] = {
      {"--component xy '" + directory + "/bad.edi'",
       "vesk1_client data: " + directory +
           "/bad.edi: line 4, section >ZXYR: \"x\" is not a number\n"},
      {"'" + directory + "/none.edi'",
       "vesk1_client data: " + directory + "/none.edi: cannot read the file\n"},
      {"--component zz x.edi",
       "vesk1_client data: --component takes det, xy, yx or mean\nTry 'vesk1_client data "
       "--help'.\n"},
      {"--error-floor 1.5 x.edi",
       "vesk1_client data: --error-floor needs a fraction from 0 to below 1\nTry 'vesk1_client "
       "data --help'.\n"},
      {"'" + directory + "'",
       "vesk1_client data: " + directory + ": not a regular file (a directory)\n"},
#ifndef _WIN32
      {"/dev/zero", "vesk1_client data: /dev/zero: not a regular file\n"},
      {"'" + fifo + "'", "vesk1_client data: " + fifo + ": not a regular file\n"},
#endif
      {"--csv",
       "vesk1_client data: --csv needs a file name, or - for standard output\nTry "
       "'vesk1_client data --help'.\n"},
  };
  for (const Case& c : cases) {
    const SpawnResult result = RunClientProgram(directory, {"data"}, c.arguments);
    EXPECT_EQ(result.exitStatus, 2) << c.arguments;
    EXPECT_EQ(result.errors, c.message);
    EXPECT_EQ(result.output, "");
  }
}

// Synthetic data of a three-layer earth through the whole workflow: invert to RMS 1, write the
// model, and the sounding mode, given that model and the data, prints the same misfit.
TEST(ClientInvert_ThreeLayerEarth, FitsToTargetAndTheModelReproducesTheFit) {
  const std::string directory = ::testing::TempDir() + "/invert_e2e";
  std::filesystem::create_directories(directory);
  const common::LoadedFdll fdll = common::LoadFdllFile(VESK1_FDLL_FILE);
  ASSERT_NE(fdll.recur, nullptr) << fdll.error;
  const std::vector<double> periods = LogPeriods(0.001, 10000, 30);
  InProcessEngine truth(fdll.recur, periods, {1000, 300});
  std::vector<double> rho, phase;
  std::string error;
  ASSERT_TRUE(truth.Responses({2.0, std::log10(5.0), 3.0}, rho, phase, error));
  std::string csv = "period_s,apparent_resistivity_ohm_m,phase_deg\n";
  for (size_t i = 0; i < periods.size(); ++i) {
    char line[120];
    std::snprintf(line, sizeof line, "%.9g,%.9g,%.9g\n", periods[i], std::pow(10.0, rho[i]),
                  phase[i]);
    csv += line;
  }
  WriteWholeFile(directory + "/data.csv", csv);
  const std::string modelOut = directory + "/model.txt";

  SpawnResult inverted;
  {
    ServerProcess server(SoundingServer());
    ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 60000)) << server.Output();
    inverted = RunClientProgram(server.Root(), {"invert"},
                                "--data '" + directory + "/data.csv' --layers 30 --model-out '" +
                                    modelOut + "' --svg '" + directory + "/fit.svg' --stop 7");
  }
  ASSERT_EQ(inverted.exitStatus, 0) << inverted.output << inverted.errors;
  EXPECT_GE(CountLines(inverted.output, "iteration "), 2) << inverted.output;
  const size_t reached = inverted.output.find("reached RMS ");
  ASSERT_NE(reached, std::string::npos) << inverted.output;
  const double rms = std::atof(inverted.output.c_str() + reached + 12);
  EXPECT_NEAR(rms, 1.0, 0.01);
  EXPECT_NE(inverted.output.find(", depth of investigation "), std::string::npos);
  const std::string modelText = ReadWholeFile(modelOut);
  const mt::ModelParse model = mt::ParseModel(modelText);
  ASSERT_EQ(model.error, "");
  EXPECT_EQ(model.earth.resistivity.size(), 30u);
  EXPECT_NE(modelText.find("\n# depth of investigation "), std::string::npos) << modelText;
  const std::string figure = ReadWholeFile(directory + "/fit.svg");
  EXPECT_NE(figure.find(">Occam inversion of data.csv<"), std::string::npos);
  EXPECT_NE(figure.find("class=\"investigation\""), std::string::npos);

  ServerProcess server(SoundingServer());
  ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 60000)) << server.Output();
  const SpawnResult sounded =
      RunClientProgram(server.Root(), {"sounding"},
                       "--model '" + modelOut + "' --data '" + directory + "/data.csv' --stop 7");
  ASSERT_EQ(sounded.exitStatus, 0) << sounded.errors;
  const size_t at = sounded.output.find("RMS misfit ");
  ASSERT_NE(at, std::string::npos) << sounded.output;
  // The model file keeps six digits, so the misfit agrees to about that.
  EXPECT_NEAR(std::atof(sounded.output.c_str() + at + 11), rms, 0.01);
  EXPECT_NE(sounded.output.find("over 60 data (30 periods"), std::string::npos);
}

// An impedance so large that its apparent resistivity would be infinite: no system could be
// formed from it (it once reached the library's factorization as NaN, which stopped the client
// with status 0 and nothing written). The client ends with the status of bad input, writing
// nothing; it never ends with status 0 without its model.
TEST(ClientInvert_InfiniteResistivity, BadInputAndNoModel) {
  const std::string directory = ::testing::TempDir() + "/invert_infinite";
  std::filesystem::create_directories(directory);
  WriteWholeFile(directory + "/huge.edi",
                 ">HEAD\n>FREQ //3\n 10 1 0.1\n>ZXYR //3\n 1 1e200 1\n>ZXYI //3\n 1 1 1\n"
                 ">ZYXR //3\n -1 -1 -1\n>ZYXI //3\n -1 -1 -1\n");
  ServerProcess server(SoundingServer());
  ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 60000)) << server.Output();
  const SpawnResult result =
      RunClientProgram(server.Root(), {"invert"},
                       "--component xy --data '" + directory + "/huge.edi' --model-out '" +
                           directory + "/model.txt' --csv '" + directory + "/fit.csv' 7");
  EXPECT_EQ(result.exitStatus, 2) << result.output;
  // The reader or the inversion's own check of the data refuses it, naming the file.
  EXPECT_EQ(result.errors.rfind("vesk1_client invert: " + directory + "/huge.edi: ", 0), 0u)
      << result.errors;
  EXPECT_FALSE(std::filesystem::exists(directory + "/model.txt"));
  EXPECT_FALSE(std::filesystem::exists(directory + "/fit.csv"));
}

TEST(ClientInvert_BadCommandLine, ExitTwoWithoutContactingAServer) {
  const std::string directory = ::testing::TempDir();
  WriteWholeFile(directory + "/ok.csv", "period_s,apparent_resistivity_ohm_m,phase_deg\n1,10,45\n");
  WriteWholeFile(directory + "/rho.edi",
                 ">FREQ //1\n 1\n>RHOROT //1\n 30\n>RHOXY //1\n 10\n>PHSXY //1\n 45\n");
#ifndef _WIN32
  // A sparse file one byte over the limit: refused before a byte is read.
  WriteWholeFile(directory + "/huge.edi", "");
  std::filesystem::resize_file(directory + "/huge.edi", (std::uintmax_t{256} << 20) + 1);
#endif
  struct Case {
    std::string arguments;
    std::string message;
    const char* mode = "invert";
  };
  const Case cases[] = {
      {"--data '" + directory + "/ok.csv' --true-model '" + directory + "' 7",
       "--true-model " + directory + ": not a regular file (a directory)"},
      {"--model '" + directory + "' 7", directory + ": not a regular file (a directory)",
       "sounding"},
      {"--data '" + directory + "/ok.csv' --periods 2:3 7",
       "ok.csv: no usable frequency (1 outside --periods 2:3)"},
      {"--data '" + directory + "/ok.csv' --rotate 10 7",
       "ok.csv: --rotate needs the impedance tensor, which a CSV file does not hold"},
      {"--data '" + directory + "/rho.edi' --rotate 10 7",
       "rho.edi: --rotate 10 needs the impedance tensor, but the file holds apparent resistivity "
       "and phase at 30 degrees (RHOROT)"},
#ifndef _WIN32
      {"--data '" + directory + "/huge.edi' 7", "huge.edi: larger than 256 MiB"},
#endif
      {"7", "--data FILE is required"},
      {"--data x.csv --layers 64 7", "--layers needs a whole number from 2 to 63"},
      {"--data x.csv --target-rms 0 7", "--target-rms needs a positive number"},
      {"--data '" + directory + "/none.csv' 7", "none.csv: cannot read the file"},
  };
  for (const Case& c : cases) {
    const SpawnResult result = RunClientProgram(directory, {c.mode}, c.arguments);
    EXPECT_EQ(result.exitStatus, 2) << c.arguments;
    EXPECT_NE(result.errors.find(c.message), std::string::npos) << result.errors;
  }
  std::filesystem::remove(directory + "/huge.edi");
}

}  // namespace
}  // namespace vesk1::test
