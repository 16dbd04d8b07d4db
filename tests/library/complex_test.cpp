#include <gtest/gtest.h>
#include <vesk1/fdll.h>

#include <cmath>

#include "loaded_library.h"

namespace vesk1::test {
namespace {

struct KnownProduct {
  double a[2];
  double b[2];
  double product[2];
};

TEST(CPXMUL_KnownValues, ExactProduct) {
  const auto multiply = RequireEntry<CPXMUL_Entry>("CPXMUL");
  ASSERT_NE(multiply, nullptr);
  const KnownProduct cases[] = {
      {{1, 2}, {3, 4}, {-5, 10}},
      {{0, 1}, {0, 1}, {-1, 0}},
      {{2.5, -1}, {-4, 0.5}, {-9.5, 5.25}},
  };
  for (const KnownProduct& c : cases) {
    double out[2] = {};
    multiply(c.a, c.b, out);
    EXPECT_EQ(out[0], c.product[0]);
    EXPECT_EQ(out[1], c.product[1]);
  }
}

struct KnownFunctionValue {
  const char* entry;
  double z[2];
  double value[2];
};

TEST(CPXROOT_CPXEXP_KnownValues, ExactValue) {
  const KnownFunctionValue cases[] = {
      {"CPXROOT", {-4, 0}, {0, 2}},
      {"CPXROOT", {4, 0}, {2, 0}},
      {"CPXROOT", {0, 2}, {1, 1}},
      {"CPXROOT", {-3, -4}, {1, -2}},  // below the cut: the root with negative imaginary part
      {"CPXEXP", {0, 0}, {1, 0}},
      {"CPXEXP", {1, 0}, {std::exp(1.0), 0}},
  };
  for (const KnownFunctionValue& c : cases) {
    const auto function = RequireEntry<CPXROOT_Entry>(c.entry);
    ASSERT_NE(function, nullptr);
    double out[2] = {};
    function(c.z, out);
    EXPECT_EQ(out[0], c.value[0]) << c.entry << "(" << c.z[0] << ", " << c.z[1] << ")";
    EXPECT_EQ(out[1], c.value[1]) << c.entry << "(" << c.z[0] << ", " << c.z[1] << ")";
  }
}

// The result may be written over an input: the inputs are read completely first.
TEST(CPXMUL_OutputAliasesInput, SameAsSeparateOutput) {
  const auto multiply = RequireEntry<CPXMUL_Entry>("CPXMUL");
  ASSERT_NE(multiply, nullptr);
  const double a[2] = {1.25, -3.5};
  const double b[2] = {-0.75, 2.0};
  double expected[2];
  multiply(a, b, expected);
  double square[2];
  multiply(a, a, square);

  double intoA[2] = {a[0], a[1]};
  multiply(intoA, b, intoA);
  EXPECT_EQ(intoA[0], expected[0]);
  EXPECT_EQ(intoA[1], expected[1]);

  double intoB[2] = {b[0], b[1]};
  multiply(a, intoB, intoB);
  EXPECT_EQ(intoB[0], expected[0]);
  EXPECT_EQ(intoB[1], expected[1]);

  double all[2] = {a[0], a[1]};
  multiply(all, all, all);
  EXPECT_EQ(all[0], square[0]);
  EXPECT_EQ(all[1], square[1]);
}

TEST(CPXEXP_CPXROOT_OutputAliasesInput, SameAsSeparateOutput) {
  for (const char* name : {"CPXEXP", "CPXROOT"}) {
    const auto function = RequireEntry<CPXEXP_Entry>(name);
    ASSERT_NE(function, nullptr);
    const double z[2] = {-2.5, 0.625};
    double expected[2];
    function(z, expected);
    double inPlace[2] = {z[0], z[1]};
    function(inPlace, inPlace);
    EXPECT_EQ(inPlace[0], expected[0]) << name;
    EXPECT_EQ(inPlace[1], expected[1]) << name;
  }
}

}  // namespace
}  // namespace vesk1::test
