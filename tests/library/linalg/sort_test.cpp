#include "sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace vesk1 {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Sorted {
  std::vector<double> rb;
  std::vector<int32_t> iperm;
};

// Sorts with IPERM = 1 .. n, so that IPERM tells where each value came from.
Sorted SortIdentity(const std::vector<double>& ra) {
  const int32_t n = static_cast<int32_t>(ra.size());
  Sorted s{std::vector<double>(n, -1.0), std::vector<int32_t>(n)};
  std::iota(s.iperm.begin(), s.iperm.end(), 1);
  DSVRGP(n, ra.data(), s.rb.data(), s.iperm.data());
  return s;
}

bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// IPERM is a permutation and each RB(k) is, bit for bit, the RA value it names.
void ExpectFollowed(const std::vector<double>& ra, const Sorted& s) {
  std::vector<int32_t> seen = s.iperm;
  std::sort(seen.begin(), seen.end());
  std::vector<int32_t> all(ra.size());
  std::iota(all.begin(), all.end(), 1);
  ASSERT_EQ(seen, all) << "IPERM is not a permutation";
  for (size_t k = 0; k < ra.size(); ++k) {
    EXPECT_TRUE(SameBits(s.rb[k], ra[s.iperm[k] - 1])) << "position " << k + 1;
  }
}

TEST(DSVRGP_SmallExample, SortsAndPermutes) {
  const Sorted s = SortIdentity({3.0, 1.0, 2.0});
  EXPECT_EQ(s.rb, (std::vector<double>{1.0, 2.0, 3.0}));
  EXPECT_EQ(s.iperm, (std::vector<int32_t>{2, 3, 1}));
}

TEST(DSVRGP_OrderOne, CopiesAndLeavesIpermAlone) {
  const double ra[1] = {4.5};
  double rb[1] = {0.0};
  int32_t iperm[1] = {42};
  DSVRGP(1, ra, rb, iperm);
  EXPECT_EQ(rb[0], 4.5);
  EXPECT_EQ(iperm[0], 42);
}

// Lengths around the insertion limit and the first partitions, values with many repeats and
// without; IPERM carries arbitrary entries, which must travel with their values.
TEST(DSVRGP_RandomInputs, AscendingAndFollowedByIperm) {
  std::mt19937_64 engine(2024);
  for (int32_t n : {2, 3, 11, 12, 13, 24, 25, 100, 1000, 4099, 100000}) {
    for (int32_t distinct : {3, 1000000}) {
      SCOPED_TRACE("n " + std::to_string(n) + " distinct " + std::to_string(distinct));
      std::uniform_int_distribution<int32_t> pick(0, distinct - 1);
      std::vector<double> ra(n);
      for (double& v : ra) v = pick(engine) * 0.5 - 7.0;
      const Sorted s = SortIdentity(ra);
      std::vector<double> expected = ra;
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(s.rb, expected);
      ExpectFollowed(ra, s);
    }
  }
}

// Equal values are never exchanged with each other, so sorted input, all-equal input and a
// run of equal values all keep IPERM as it was.
TEST(DSVRGP_EqualValues, NeverExchanged) {
  std::vector<double> ascending(3000);
  for (size_t i = 0; i < ascending.size(); ++i) ascending[i] = static_cast<double>(i / 7);
  const std::vector<std::vector<double>> inputs = {ascending, std::vector<double>(500, 2.5),
                                                   std::vector<double>(12, -1.0)};
  for (const auto& ra : inputs) {
    const Sorted s = SortIdentity(ra);
    std::vector<int32_t> identity(ra.size());
    std::iota(identity.begin(), identity.end(), 1);
    EXPECT_EQ(s.iperm, identity) << "n " << ra.size();
    EXPECT_EQ(s.rb, ra);
  }
}

TEST(DSVRGP_InPlace, SortsTheInputItself) {
  std::vector<double> ra = {5.0, -1.0, 3.0, 3.0, 0.0, 9.0, -7.0, 2.0, 2.0, 1.0, 8.0, 6.0, 4.0};
  const std::vector<double> original = ra;
  std::vector<int32_t> iperm(ra.size());
  std::iota(iperm.begin(), iperm.end(), 1);
  DSVRGP(static_cast<int32_t>(ra.size()), ra.data(), ra.data(), iperm.data());
  std::vector<double> expected = original;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ra, expected);
  ExpectFollowed(original, Sorted{ra, iperm});
}

// NaNs compare false both ways, which would carry the partition scans off the array. Any such
// input must come back as a permutation of RA that IPERM follows exactly, without a fault.
TEST(DSVRGP_NaNs, PermutationWithoutFault) {
  std::mt19937_64 engine(99);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<std::vector<double>> inputs;
  for (int32_t n : {2, 3, 12, 13, 40, 1000, 20000}) {
    std::vector<double> values(n);
    for (double& v : values) v = uniform(engine);
    std::vector<double> first = values, last = values, middle = values, many = values;
    first[0] = kNaN;
    last[n - 1] = kNaN;
    middle[n / 2] = kNaN;
    for (int32_t i = 0; i < n; i += 3) many[i] = kNaN;
    inputs.insert(inputs.end(), {first, last, middle, many, std::vector<double>(n, kNaN)});
  }
  for (const auto& ra : inputs) {
    const Sorted s = SortIdentity(ra);
    ExpectFollowed(ra, s);
  }
}

// The values that are not NaN come back ascending and the NaNs after them, IPERM following
// every move. `sorted` and `from` give the expected values before the NaNs and the positions
// of RA they came from.
TEST(DSVRGP_NaNs, OthersAscendingNaNsLast) {
  struct Case {
    const char* name;
    std::vector<double> ra;
    std::vector<double> sorted;
    std::vector<int32_t> from;
  };
  const std::vector<Case> cases = {
      {"NaN whose median-of-three held both scans",
       {5, 4, 3, 2, 1, kNaN, 9, 8, 7, 6, 0, -1, -2, -3, -4},
       {-4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
       {15, 14, 13, 12, 11, 5, 4, 3, 2, 1, 10, 9, 8, 7}},
      {"NaN first, short input", {kNaN, 3, 1, 2}, {1, 2, 3}, {3, 4, 2}},
      {"NaN last, already sorted", {1, 2, 3, kNaN}, {1, 2, 3}, {1, 2, 3}},
      {"NaNs of both signs, longer than an insertion run",
       {2, -kNaN, 1, 4, kNaN, 0, 5, 7, kNaN, 3, 8, -5, 9, 6, kNaN},
       {-5, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
       {12, 6, 3, 1, 10, 4, 7, 14, 8, 11, 13}},
      {"only NaNs", {kNaN, -kNaN, kNaN}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Sorted s = SortIdentity(c.ra);
    const size_t m = c.sorted.size();
    EXPECT_EQ(std::vector<double>(s.rb.begin(), s.rb.begin() + m), c.sorted);
    EXPECT_EQ(std::vector<int32_t>(s.iperm.begin(), s.iperm.begin() + m), c.from);
    for (size_t k = m; k < c.ra.size(); ++k) EXPECT_TRUE(std::isnan(s.rb[k])) << k + 1;
    ExpectFollowed(c.ra, s);
  }
}

// With NaNs anywhere, the values before them are exactly the sort of RA with the NaNs taken
// out, the same IPERM included.
TEST(DSVRGP_NaNs, OthersSortAsIfTheNaNsWereAbsent) {
  std::mt19937_64 engine(5);
  std::uniform_int_distribution<int32_t> pick(0, 9);
  for (int32_t n : {13, 40, 1000, 20000}) {
    for (int32_t every : {2, 7, 1000}) {
      SCOPED_TRACE("n " + std::to_string(n) + " every " + std::to_string(every));
      std::vector<double> ra(n);
      std::vector<double> stripped;
      std::vector<int32_t> kept;  // positions of RA that are not NaN
      for (int32_t i = 0; i < n; ++i) {
        ra[i] = i % every == 3 ? kNaN : pick(engine) * 0.25;
        if (!std::isnan(ra[i])) {
          stripped.push_back(ra[i]);
          kept.push_back(i + 1);
        }
      }
      const Sorted s = SortIdentity(ra);
      const Sorted plain = SortIdentity(stripped);
      const size_t m = stripped.size();
      EXPECT_EQ(std::vector<double>(s.rb.begin(), s.rb.begin() + m), plain.rb);
      for (size_t k = 0; k < m; ++k) ASSERT_EQ(s.iperm[k], kept[plain.iperm[k] - 1]) << k + 1;
      ExpectFollowed(ra, s);
    }
  }
}

// Without NaNs the order of ties, and so IPERM, is what the quicksort has always given.
TEST(DSVRGP_TiesWithoutNaN, SameIpermAsAlways) {
  std::vector<double> ra;
  for (int32_t i = 0; i < 40; ++i) ra.push_back(static_cast<double>((i * 7 + 3) % 11 % 3));
  const Sorted s = SortIdentity(ra);
  EXPECT_EQ(s.iperm, (std::vector<int32_t>{1,  38, 3,  36, 5,  14, 34, 10, 32, 27, 23, 12, 16, 21,
                                           25, 35, 13, 18, 11, 20, 33, 22, 2,  24, 40, 31, 29, 9,
                                           7,  15, 30, 26, 28, 8,  6,  4,  37, 19, 39, 17}));
}

TEST(DSVRGP_OrderZero, PrintsTheLengthAndStops) {
  const auto result = test::RunScenario([] {
    const double ra[1] = {1.0};
    double rb[1] = {-3.0};
    int32_t iperm[1] = {9};
    DSVRGP(0, ra, rb, iperm);
    std::printf("not reached\n");
  });
  EXPECT_EQ(result.output, R"(
 *** TERMINAL ERROR 1 from DSVRGP.  The length of vectors RA, RB and IPERM
 ***          must be greater than or equal to one.  On input the length, N, 
 ***          is given as 0.
)");
  EXPECT_EQ(result.exitStatus, 0);
}

}  // namespace
}  // namespace vesk1
