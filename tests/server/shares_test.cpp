#include "shares.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "vesk1/module.h"

namespace vesk1 {
namespace {

std::vector<std::int32_t> Shares(std::int32_t n, std::vector<bool> hasModuleBits) {
  std::unique_ptr<bool[]> hasModule(new bool[hasModuleBits.size()]);
  for (std::size_t j = 0; j < hasModuleBits.size(); ++j) hasModule[j] = hasModuleBits[j];
  std::vector<std::int32_t> shares(hasModuleBits.size(), -7);
  ComputeShares(n, {hasModule.get(), hasModuleBits.size()}, shares);
  return shares;
}

struct ShareCase {
  std::int32_t itemCount;
  std::vector<bool> hasModule;
  std::vector<std::int32_t> expected;
};

// Equal shares of ceil(N / W) in worker order, the last worker the rest; bounded by what is
// left where the plain rule would go negative; workers without a module get nothing.
TEST(ComputeShares_Table, GivesContiguousBoundedShares) {
  const std::vector<ShareCase> cases = {
      {10, {true, true, true, true}, {3, 3, 3, 1}},
      {9, {true, true, true, true}, {3, 3, 3, 0}},
      {5, {true, true, true, true}, {2, 2, 1, 0}},  // plain rule: 2, 2, 2, -1
      {1, {true, true}, {1, 0}},
      {255, {true, true}, {128, 127}},
      {255, {true}, {255}},
      {7, {true, true, true}, {3, 3, 1}},
      {0, {true, true, true}, {0, 0, 0}},
      {10, {true, false, true, true}, {4, 0, 4, 2}},
      {10, {false, true, false, false}, {0, 10, 0, 0}},
      {3, {false, false}, {0, 0}},
      {2, {true, true, true, true, true, true, true, true}, {1, 1, 0, 0, 0, 0, 0, 0}},
  };
  for (const ShareCase& c : cases) {
    EXPECT_EQ(c.expected, Shares(c.itemCount, c.hasModule)) << "N=" << c.itemCount;
  }
}

// Whatever the counts, the shares cover items 0..N-1 exactly once, none is negative, and every
// worker with a module except the last gets at most P = ceil(N / L).
TEST(ComputeShares_AllCounts, CoverEveryItemOnce) {
  std::mt19937 random(12345);
  for (int workers = 1; workers <= 16; ++workers) {
    for (int trial = 0; trial < 8; ++trial) {
      std::vector<bool> hasModule(static_cast<std::size_t>(workers));
      int usable = 0;
      for (std::size_t j = 0; j < hasModule.size(); ++j) {
        hasModule[j] = trial == 0 || (random() % 3) != 0;
        usable += hasModule[j];
      }
      for (std::int32_t n = 0; n <= kMaxItems; ++n) {
        const std::vector<std::int32_t> shares = Shares(n, hasModule);
        std::int32_t total = 0;
        int lastUsable = -1;
        for (int j = 0; j < workers; ++j) {
          if (hasModule[static_cast<std::size_t>(j)]) lastUsable = j;
        }
        const int perWorker = usable == 0 ? 0 : static_cast<int>(std::ceil(double(n) / usable));
        for (int j = 0; j < workers; ++j) {
          const std::int32_t share = shares[static_cast<std::size_t>(j)];
          ASSERT_GE(share, 0);
          if (!hasModule[static_cast<std::size_t>(j)]) {
            ASSERT_EQ(0, share);
          }
          if (j != lastUsable) {
            ASSERT_LE(share, perWorker);
          }
          total += share;
        }
        ASSERT_EQ(usable == 0 ? 0 : n, total) << "W=" << workers << " N=" << n;
      }
    }
  }
}

}  // namespace
}  // namespace vesk1
