// The factorization brings its columns up to date a tile at a time. Whatever the tile width,
// every entry must take the same operations in the same order as when each panel updates the
// whole trailing matrix at once: the results agree bit for bit. Both runs share this binary,
// so a processor with or without fused multiply-add affects them alike.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "linalg/lu.h"
#include "matrices.h"
#include "support/child_process.h"

namespace vesk1 {
namespace {

using test::Matrix;
using test::RandomMatrix;
using test::RunScenario;

struct Outcome {
  std::vector<double> fac;  // the whole LDFAC by N array, padding rows included
  std::vector<int32_t> pivot;
  double rcond = -1.0;
};

Outcome FactorWithTiles(const Matrix& a, int32_t ldfac, int32_t tileColumns) {
  Outcome o{std::vector<double>(static_cast<size_t>(ldfac) * a.n, test::kPadding),
            std::vector<int32_t>(a.n, 0)};
  std::vector<double> work(a.n);
  DL2CRG(a.n, a.data.data(), a.ld, o.fac.data(), ldfac, o.pivot.data(), o.rcond, work.data(),
         tileColumns);
  return o;
}

bool SameBits(const std::vector<double>& x, const std::vector<double>& y) {
  return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
}

// The first entry whose bits differ, as "(row, column)" counted from 0, for the failure text.
std::string FirstDifference(const std::vector<double>& x, const std::vector<double>& y,
                            int32_t ld) {
  for (size_t e = 0; e < x.size(); ++e) {
    if (std::memcmp(&x[e], &y[e], sizeof(double)) != 0) {
      char text[48];
      std::snprintf(text, sizeof text, "(%zu, %zu)", e % static_cast<size_t>(ld),
                    e / static_cast<size_t>(ld));
      return text;
    }
  }
  return "none";
}

void ExpectSameOutcome(const Outcome& whole, const Outcome& tiled, int32_t ldfac) {
  EXPECT_EQ(tiled.pivot, whole.pivot);
  EXPECT_TRUE(SameBits(tiled.fac, whole.fac))
      << "first differing entry " << FirstDifference(tiled.fac, whole.fac, ldfac);
  EXPECT_EQ(std::memcmp(&tiled.rcond, &whole.rcond, sizeof(double)), 0)
      << tiled.rcond << " against " << whole.rcond;
}

// Orders from 1 to 600: odd ones, and ones around the panel width (8), the production tile
// width and the blocks of the tile update (8-row blocks, 4-column groups); leading dimensions
// above the order. Widths of one panel and of odd multiples put many tile boundaries in one
// matrix; 13 is rounded down to one panel.
TEST(DL2CRG_TileWidths, SameBitsAsWholeTrailingMatrix) {
  const int32_t orders[] = {1,   2,   3,   5,   7,   8,   9,   15,  16,  17,  23,  31,  33,
                            63,  64,  65,  66,  71,  72,  73,  127, 128, 129, 130, 131, 191,
                            192, 193, 255, 257, 263, 300, 383, 449, 511, 513, 521, 599, 600};
  const int32_t widths[] = {kTileColumns, 8, 13, 24, 40, 136};
  for (int32_t n : orders) {
    const int32_t ld = n + 1 + n % 7;
    const int32_t ldfac = n + 2 + n % 5;
    const Matrix a = RandomMatrix(n, ld, 4000 + n);
    const Outcome whole = FactorWithTiles(a, ldfac, kWholeTrailingMatrix);
    ASSERT_EQ(N1RTY(1), 0) << "n = " << n;
    for (int32_t width : widths) {
      SCOPED_TRACE(testing::Message() << "n = " << n << ", width = " << width);
      ExpectSameOutcome(whole, FactorWithTiles(a, ldfac, width), ldfac);
    }
  }
}

// Pivots that meet the earlier tiles' rows: rows of very different magnitude make the scaled
// pivot search reach far down, so the exchanges cross tile and panel boundaries.
TEST(DL2CRG_TileWidths, SameBitsWithFarPivots) {
  for (int32_t n : {70, 201, 333}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    Matrix a = RandomMatrix(n, n, 77 + n);
    for (int32_t i = 0; i < n; ++i) {
      const double factor = (i % 3 == 0) ? 1e6 : (i % 3 == 1 ? 1e-4 : 1.0);
      for (int32_t j = 0; j < n; ++j) a(i, j) *= factor;
    }
    const Outcome whole = FactorWithTiles(a, n, kWholeTrailingMatrix);
    int32_t exchanges = 0;
    for (int32_t k = 0; k < n; ++k) exchanges += whole.pivot[k] - 1 > k + 8 ? 1 : 0;
    EXPECT_GT(exchanges, n / 4) << "the matrix should exchange rows far apart";
    for (int32_t width : {kTileColumns, 8, 16}) {
      SCOPED_TRACE("width = " + std::to_string(width));
      ExpectSameOutcome(whole, FactorWithTiles(a, n, width), n);
    }
  }
}

// A singular matrix (a zero column): columns past the zero pivot are left as the elimination leaves
// them, and they too agree bit for bit. The stop table lets the process go on, so this runs in a
// child.
TEST(DL2CRG_TileWidths, SingularMatrixLeavesTheSameFactors) {
  const auto result = RunScenario([] {
    test::GoOnAfter(kFatal);
    const int32_t n = 150;
    Matrix a = RandomMatrix(n, n, 5);
    for (int32_t i = 0; i < n; ++i) a(i, 90) = 0.0;
    const Outcome whole = FactorWithTiles(a, n, kWholeTrailingMatrix);
    const int32_t wholeType = N1RTY(1);
    for (int32_t width : {kTileColumns, 8, 24}) {
      const Outcome tiled = FactorWithTiles(a, n, width);
      const bool same = tiled.pivot == whole.pivot && SameBits(tiled.fac, whole.fac) &&
                        std::memcmp(&tiled.rcond, &whole.rcond, sizeof(double)) == 0;
      std::printf("%d %d %d %s\n", width, wholeType, N1RTY(1), same ? "same" : "different");
    }
  });
  EXPECT_EQ(result.output, "64 4 4 same\n8 4 4 same\n24 4 4 same\n");
}

// An ill-conditioned matrix draws the same warning, digit for digit, at every width.
TEST(DL2CRG_TileWidths, IllConditionedWarningPrintedIdentically) {
  const int32_t widths[] = {kWholeTrailingMatrix, kTileColumns, 8};
  std::vector<std::string> printed;
  for (int32_t width : widths) {
    const auto result = RunScenario([width] {
      const int32_t n = 90;
      Matrix a{n, n + 3, std::vector<double>(static_cast<size_t>(n + 3) * n, test::kPadding)};
      for (int32_t j = 0; j < n; ++j) {
        for (int32_t i = 0; i < n; ++i) a(i, j) = 1.0 / (i + j + 1);  // Hilbert
      }
      const Outcome o = FactorWithTiles(a, n + 1, width);
      std::printf("returned %.17g\n", o.rcond);
    });
    EXPECT_EQ(result.exitStatus, test::kScenarioReturned);
    printed.push_back(result.output);
  }
  EXPECT_NE(printed[0].find("The matrix is algorithmically singular."), std::string::npos)
      << printed[0];
  EXPECT_EQ(printed[1], printed[0]);
  EXPECT_EQ(printed[2], printed[0]);
}

}  // namespace
}  // namespace vesk1
