// One case per argument check of the factorization and inverse routines, exactly one argument
// bad: the child turns printing and stopping of TERMINAL errors off, calls the routine and
// reports the outcome it left for its caller and whether any output was written.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "linalg/inverse.h"
#include "linalg/lu.h"
#include "support/child_process.h"

namespace vesk1 {
namespace {

struct Outputs {
  double matrix[16];
  int32_t pivot[4];
  double scalar;
  double work[16];
};

struct CheckCase {
  const char* name;
  std::function<void(Outputs&)> call;
  const char* expected;  // "type code"
};

constexpr double kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

TEST(LinearAlgebra_BadArguments, ReportTheirCodeInOrderAndWriteNothing) {
  const double* a = kIdentity;
  const std::vector<CheckCase> cases = {
      {"DL2CRG N", [&](Outputs& o) { DL2CRG(0, a, 4, o.matrix, 4, o.pivot, o.scalar, o.work); },
       "5 1"},
      {"DL2CRG LDA", [&](Outputs& o) { DL2CRG(4, a, 3, o.matrix, 4, o.pivot, o.scalar, o.work); },
       "5 2"},
      {"DL2CRG LDFAC", [&](Outputs& o) { DL2CRG(4, a, 4, o.matrix, 3, o.pivot, o.scalar, o.work); },
       "5 3"},
      {"DL2TRG N", [&](Outputs& o) { DL2TRG(-2, a, 4, o.matrix, 4, o.pivot, o.work); }, "5 1"},
      {"DL2TRG LDA", [&](Outputs& o) { DL2TRG(4, a, 2, o.matrix, 4, o.pivot, o.work); }, "5 2"},
      {"DL2TRG LDFAC", [&](Outputs& o) { DL2TRG(4, a, 4, o.matrix, 1, o.pivot, o.work); }, "5 3"},
      {"DNR1RR NRA above LDA", [&](Outputs& o) { DNR1RR(5, 4, a, 4, o.scalar); }, "5 1"},
      {"DNR1RR NRA", [&](Outputs& o) { DNR1RR(0, 4, a, 4, o.scalar); }, "5 2"},
      {"DNR1RR NCA", [&](Outputs& o) { DNR1RR(4, 0, a, 4, o.scalar); }, "5 3"},
      {"DNR1RR NRA and NCA: both reported, the last code stays",
       [&](Outputs& o) { DNR1RR(-1, -1, a, 4, o.scalar); }, "5 3"},
      {"DCRGRG N", [&](Outputs& o) { DCRGRG(0, a, 4, o.matrix, 4); }, "5 1"},
      {"DCRGRG LDA", [&](Outputs& o) { DCRGRG(4, a, 3, o.matrix, 4); }, "5 2"},
      {"DCRGRG LDB", [&](Outputs& o) { DCRGRG(4, a, 4, o.matrix, 3); }, "5 3"},
      {"DL2NRG N", [&](Outputs& o) { DL2NRG(0, a, 4, o.matrix, 4, o.work, o.pivot); }, "5 1"},
      {"DL2NRG LDA", [&](Outputs& o) { DL2NRG(4, a, 3, o.matrix, 4, o.work, o.pivot); }, "5 2"},
      {"DL2NRG LDAINV", [&](Outputs& o) { DL2NRG(4, a, 4, o.matrix, 2, o.work, o.pivot); }, "5 3"},
      {"DLINRT N", [&](Outputs& o) { DLINRT(0, a, 4, 1, o.matrix, 4); }, "5 1"},
      {"DLINRT LDA", [&](Outputs& o) { DLINRT(4, a, 3, 1, o.matrix, 4); }, "5 2"},
      {"DLINRT LDAINV", [&](Outputs& o) { DLINRT(4, a, 4, 2, o.matrix, 3); }, "5 3"},
      {"DLINRT IPATH", [&](Outputs& o) { DLINRT(4, a, 4, 0, o.matrix, 4); }, "5 4"},
  };
  for (const CheckCase& c : cases) {
    const auto result = test::RunScenario([&] {
      int32_t print = 0;
      int32_t stop = 0;
      SetPrintStopAttributes(kTerminal, print, stop);
      Outputs o;
      for (double& v : o.matrix) v = -3.0;
      for (int32_t& p : o.pivot) p = -3;
      o.scalar = -3.0;
      c.call(o);
      bool untouched = o.scalar == -3.0;
      for (double v : o.matrix) untouched = untouched && v == -3.0;
      for (int32_t p : o.pivot) untouched = untouched && p == -3;
      std::printf("%d %d %s", N1RTY(1), N1RCD(1), untouched ? "untouched" : "written");
    });
    EXPECT_EQ(result.output, std::string(c.expected) + " untouched") << c.name;
  }
}

}  // namespace
}  // namespace vesk1
