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

Outcome FactorWithTiles(const Matrix& a, int32_t ldfac, int32_t tileColumns,
                        int32_t blockColumns = kChosenBlock) {
  Outcome o{std::vector<double>(static_cast<size_t>(ldfac) * a.n, test::kPadding),
            std::vector<int32_t>(a.n, 0)};
  std::vector<double> work(a.n);
  DL2CRG(a.n, a.data.data(), a.ld, o.fac.data(), ldfac, o.pivot.data(), o.rcond, work.data(),
         tileColumns, blockColumns);
  return o;
}

// Pivots, the whole LDFAC by N array and RCOND agree bit for bit.
bool SameOutcome(const Outcome& x, const Outcome& y) {
  return x.pivot == y.pivot && x.fac.size() == y.fac.size() &&
         std::memcmp(x.fac.data(), y.fac.data(), x.fac.size() * sizeof(double)) == 0 &&
         std::memcmp(&x.rcond, &y.rcond, sizeof(double)) == 0;
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
      EXPECT_TRUE(SameOutcome(whole, FactorWithTiles(a, ldfac, width)));
    }
  }
}

// Blocks of tiles: each finished block gives its steps to every column to its right at once.
// Narrow blocks put many of those updates, and block boundaries inside and between panels of
// the products, in one matrix; a block width that is not a multiple of the tile width is
// rounded down to one. A block as wide as the matrix of order 720 ends with a tile that takes
// 640 steps at once, more than one packed segment of 512, the second of two blocks of rows.
TEST(DL2CRG_BlockWidths, SameBitsAsWholeTrailingMatrix) {
  const struct {
    int32_t tile, block;
  } schedules[] = {{8, 16},   {8, 40},  {16, 48},
                   {24, 72},  {32, 96}, {64, 128},
                   {40, 100}, {64, 64}, {64, kWholeTrailingMatrix}};
  for (int32_t n : {17, 97, 200, 331, 720}) {
    const Matrix a = RandomMatrix(n, n + 3, 9000 + n);
    const Outcome whole = FactorWithTiles(a, n + 1, kWholeTrailingMatrix);
    for (const auto& s : schedules) {
      SCOPED_TRACE(testing::Message()
                   << "n = " << n << ", tile " << s.tile << ", block " << s.block);
      EXPECT_TRUE(SameOutcome(whole, FactorWithTiles(a, n + 1, s.tile, s.block)));
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
      for (int32_t j = 0; j < n; ++j) a(i, j) *= (i % 3 == 0) ? 1e6 : (i % 3 == 1 ? 1e-4 : 1.0);
    }
    const Outcome whole = FactorWithTiles(a, n, kWholeTrailingMatrix);
    int32_t exchanges = 0;
    for (int32_t k = 0; k < n; ++k) exchanges += whole.pivot[k] - 1 > k + 8 ? 1 : 0;
    EXPECT_GT(exchanges, n / 4) << "the matrix should exchange rows far apart";
    for (int32_t width : {kTileColumns, 8, 16}) {
      EXPECT_TRUE(SameOutcome(whole, FactorWithTiles(a, n, width))) << "width " << width;
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
      const bool same = SameOutcome(whole, FactorWithTiles(a, n, width));
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
      Matrix a = RandomMatrix(n, n + 3, 1);
      for (int32_t j = 0; j < n; ++j) {
        for (int32_t i = 0; i < n; ++i) a(i, j) = 1.0 / (i + j + 1);  // Hilbert
      }
      std::printf("returned %.17g\n", FactorWithTiles(a, n + 1, width).rcond);
    });
    EXPECT_EQ(result.exitStatus, test::kScenarioReturned);
    printed.push_back(result.output);
  }
  EXPECT_NE(printed[0].find("The matrix is algorithmically singular."), std::string::npos);
  EXPECT_EQ(printed[1], printed[0]);
  EXPECT_EQ(printed[2], printed[0]);
}

}  // namespace
}  // namespace vesk1
