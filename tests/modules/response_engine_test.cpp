#include "response_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "common/fdll_loader.h"
#include "sounding.h"

namespace vesk1::sounding {
namespace {

std::vector<VectorIsa> Builds() {
  std::vector<VectorIsa> builds{VectorIsa::kBaseline};
  if (VectorIsaAvailable(VectorIsa::kAvx2)) builds.push_back(VectorIsa::kAvx2);
  return builds;
}

// Within `ulps` units in the last place of the standard library's value (of 1 for values
// below 1 in magnitude, where the functions are held to an absolute error).
TEST(EvaluateVectorFunction_Table, WithinTwoUlpsOfTheStandardLibrary) {
  struct Case {
    VectorFunction function;
    double from, to;  // x uniform, or log-uniform for kLog
    double (*reference)(double, double);
  };
  const Case cases[] = {
      {VectorFunction::kExp, -708, 708, [](double x, double) { return std::exp(x); }},
      {VectorFunction::kExp, -1, 1, [](double x, double) { return std::exp(x); }},
      {VectorFunction::kSin, 0, 40, [](double x, double) { return std::sin(x); }},
      {VectorFunction::kCos, 0, 40, [](double x, double) { return std::cos(x); }},
      {VectorFunction::kLog, -690, 690, [](double x, double) { return std::log(x); }},
      {VectorFunction::kLog, 0.5, 2, [](double x, double) { return std::log(x); }},
      {VectorFunction::kAtan2, -10, 10, [](double y, double x) { return std::atan2(y, x); }},
  };
  constexpr int kCount = 4096;
  std::mt19937_64 random(3);
  for (const Case& c : cases) {
    std::uniform_real_distribution<double> draw(c.from, c.to), other(-10, 10);
    std::vector<double> x(kCount), x2(kCount), first(kCount), y(kCount);
    for (int i = 0; i < kCount; ++i) {
      x[i] =
          c.function == VectorFunction::kLog && c.from < 0 ? std::exp(draw(random)) : draw(random);
      x2[i] = other(random);
    }
    for (VectorIsa isa : Builds()) {
      EvaluateVectorFunction(c.function, x.data(), x2.data(), y.data(), kCount, isa);
      for (int i = 0; i < kCount; ++i) {
        const double expected = c.reference(x[i], x2[i]);
        const double scale = std::max(1.0, std::fabs(expected));
        ASSERT_LE(std::fabs(y[i] - expected), 2 * DBL_EPSILON * scale)
            << VectorIsaName(isa) << " function " << static_cast<int>(c.function) << " at " << x[i];
      }
      if (isa == VectorIsa::kBaseline) first = y;
      EXPECT_EQ(std::memcmp(first.data(), y.data(), kCount * sizeof(double)), 0)
          << VectorIsaName(isa);
    }
  }
}

// Random layered earths of 1 to 63 layers, resistivities 0.1 to 10^4 ohm-m, thicknesses 0.1 m
// to 10 km, at 1 to 256 periods from 10^-4 to 10^4 s: the same float32 values as the sounding
// kind's CRECUR1 path, within one unit in the last place, from conductivities and from log10
// resistivities alike; the builds give the same bits.
TEST(ComputeResponses_RandomEarths, AgreeWithCRECUR1InSinglePrecision) {
  const common::LoadedFdll fdll = common::LoadFdllFile(VESK1_FDLL_FILE);
  ASSERT_NE(fdll.recur, nullptr) << fdll.error;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 200; ++trial) {
    const int n = trial < 2 ? 63 : 1 + static_cast<int>(random() % 63);
    RecurrenceModel model;
    std::memset(&model, 0, sizeof model);
    model.layerCount = n;
    model.bottomMode = 2;
    std::vector<double> sigma(n), thickness(n);
    std::vector<float> log10Rho(n), thicknessF(n);
    for (int j = 0; j < n; ++j) {
      log10Rho[j] = static_cast<float>(5 * unit(random) - 1);
      model.conductivity[j][0] = static_cast<float>(std::pow(10.0, -log10Rho[j]));
      model.thickness[j] = thicknessF[j] = static_cast<float>(std::pow(10.0, 5 * unit(random) - 1));
      model.layerFactor[j] = 1.0f;
      sigma[j] = model.conductivity[j][0];
      thickness[j] = model.thickness[j];
    }
    // Every count up to 64 of the whole and partial vector groups, and the most.
    std::vector<float> periods(trial == 0 ? kEngineMaxPeriods : 1 + trial % 64);
    for (float& p : periods) p = static_cast<float>(std::pow(10.0, 8 * unit(random) - 4));
    PeriodSet set;
    ASSERT_TRUE(PeriodSetOf(periods, set));
    LayeredEarth fromSigma, fromLog;
    ASSERT_TRUE(EarthFromConductivity(sigma, thickness, fromSigma));
    ResponseSet first;
    for (VectorIsa isa : Builds()) {
      ASSERT_TRUE(EarthFromLog10Resistivity(log10Rho, thicknessF, fromLog, isa));
      ResponseSet linear, logForm;
      ComputeResponses(fromSigma, set, ResistivityForm::kOhmMetres, linear, isa);
      ComputeResponses(fromLog, set, ResistivityForm::kLog10, logForm, isa);
      for (int i = 0; i < set.count; ++i) {
        SCOPED_TRACE(testing::Message() << VectorIsaName(isa) << " trial " << trial << " layers "
                                        << n << " period " << periods[i]);
        const SoundingPoint expected = ComputePoint(fdll.recur, model, periods[i]);
        const float rho = static_cast<float>(linear.resistivity[i]);
        const float phase = static_cast<float>(linear.phase[i]);
        ASSERT_LE(std::fabs(rho - expected.resistivity),
                  std::nextafter(expected.resistivity, INFINITY) - expected.resistivity);
        ASSERT_LE(std::fabs(phase - expected.phase),
                  std::nextafter(std::fabs(expected.phase), INFINITY) - std::fabs(expected.phase));
        // The log10 form from log10 resistivities: the float32 conductivities above differ
        // from 10^-v by up to 6e-8.
        ASSERT_NEAR(logForm.resistivity[i], std::log10(linear.resistivity[i]), 1e-7);
        ASSERT_NEAR(logForm.phase[i], linear.phase[i], 1e-5);
      }
      if (isa == VectorIsa::kBaseline) first = linear;
      const size_t used = set.count * sizeof(double);
      EXPECT_EQ(std::memcmp(first.resistivity, linear.resistivity, used), 0) << VectorIsaName(isa);
      EXPECT_EQ(std::memcmp(first.phase, linear.phase, used), 0) << VectorIsaName(isa);
    }
  }
}

// The log10 form's checks are seen through the model batch (sounding_module_test.cpp).
TEST(EarthFrom_BadInputs, Refused) {
  LayeredEarth earth;
  const std::vector<double> thickness(200, 10.0);
  EXPECT_TRUE(EarthFromConductivity(std::vector<double>{0.1, 1.0}, thickness, earth));
  EXPECT_FALSE(EarthFromConductivity(std::vector<double>(129, 1.0), thickness, earth));
  EXPECT_FALSE(EarthFromConductivity(std::vector<double>{0.1, 0.0}, thickness, earth));
  EXPECT_FALSE(
      EarthFromConductivity(std::vector<double>{0.1, 1.0}, std::vector<double>{-1}, earth));
  PeriodSet set;
  EXPECT_TRUE(PeriodSetOf(std::vector<float>(256, 1.0f), set));
  EXPECT_FALSE(PeriodSetOf(std::vector<float>(257, 1.0f), set));
}

}  // namespace
}  // namespace vesk1::sounding
