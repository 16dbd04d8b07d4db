#include <gtest/gtest.h>
#include <vesk1/fdll.h>

#include <climits>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "loaded_library.h"

namespace vesk1::test {
namespace {

using C = std::complex<double>;

constexpr double kMu = 1.2566359828269924e-6;
const C kI(0.0, 1.0);

struct Layer {
  float thickness;
  float sigmaRe;
  float sigmaIm;
  float factor;
};

// A model block with recognisable bytes in the stretches the routine must not touch.
RecurrenceModel MakeModel(const std::vector<Layer>& layers, int bottomMode) {
  RecurrenceModel model;
  std::memset(&model, 0xA5, sizeof model);
  model.layerCount = static_cast<int32_t>(layers.size());
  model.bottomMode = bottomMode;
  for (size_t j = 0; j < layers.size(); ++j) {
    model.thickness[j] = layers[j].thickness;
    model.conductivity[j][0] = layers[j].sigmaRe;
    model.conductivity[j][1] = layers[j].sigmaIm;
    model.layerFactor[j] = layers[j].factor;
  }
  return model;
}

struct Results {
  C gamma, root, negTerm, q;
};

Results Call(double lambda, double omega, const RecurrenceModel& model,
             Results incoming = {C(0, 0), C(0, 0), C(0, 0), C(0, 0)}) {
  const auto recur = RequireEntry<CRECUR1_Entry>("CRECUR1");
  if (recur == nullptr) return {};
  const double parameters[3] = {omega, 0.0, 0.0};
  double block[8] = {incoming.gamma.real(), incoming.gamma.imag(),   incoming.root.real(),
                     incoming.root.imag(),  incoming.negTerm.real(), incoming.negTerm.imag(),
                     incoming.q.real(),     incoming.q.imag()};
  recur(&lambda, parameters, block, &model);
  return {C(block[0], block[1]), C(block[2], block[3]), C(block[4], block[5]),
          C(block[6], block[7])};
}

// The two recurrences written out with the C++ library's complex arithmetic, from the bottom
// layer up; layers are listed top first.
Results Reference(double lambda, double omega, const std::vector<Layer>& layers, int mode,
                  Results incoming = {}) {
  const int n = static_cast<int>(layers.size());
  auto sigma = [&](int j) { return C(layers[j - 1].sigmaRe, layers[j - 1].sigmaIm); };
  auto root = [&](C k2) { return std::sqrt(lambda * lambda - k2); };
  const C kBottom = kI * omega * kMu * sigma(n);
  const C uBottom = root(kBottom);
  C gamma = incoming.gamma;
  C q = incoming.q;
  if (mode == 2) {
    gamma = q = 1.0;
  } else if (mode == 0 || mode == 1) {
    const C t = std::tanh(static_cast<double>(layers[n - 1].thickness) * uBottom);
    gamma = mode == 0 ? t : (lambda * t + uBottom) / (lambda + uBottom * t);
    q = mode == 0 ? 1.0 / t : t;
  }
  C below = uBottom;
  for (int j = n - 1; j >= 1; --j) {
    const C u = root(kI * omega * kMu * sigma(j));
    const C e = std::exp(-2.0 * static_cast<double>(layers[j - 1].thickness) * u);
    gamma =
        (below * (1.0 - e) + u * gamma * (1.0 + e)) / (below * (1.0 + e) + u * gamma * (1.0 - e));
    below = u;
  }
  below = uBottom;
  C top = uBottom;
  C topTerm = kBottom;
  for (int j = n - 1; j >= 1; --j) {
    const double w = layers[j - 1].factor;
    const C k2 = kI * omega * kMu * sigma(j) / w;
    const C u = root(k2);
    const C e = std::exp(-2.0 * static_cast<double>(layers[j - 1].thickness) * w * u);
    // The conductivity ratio as the model holds it: products of single-precision values.
    const C cBelow(layers[j - 1].factor * layers[j].sigmaRe,
                   layers[j - 1].factor * layers[j].sigmaIm);
    const C cHere(layers[j].factor * layers[j - 1].sigmaRe,
                  layers[j].factor * layers[j - 1].sigmaIm);
    const C ratio = cBelow / cHere;
    const C numerator = below * (1.0 - e) + q * ratio * u * (1.0 + e);
    const C denominator = below * (1.0 + e) + numerator * ratio * u * (1.0 - e);
    q = numerator / denominator;
    below = top = u;
    topTerm = k2;
  }
  return {gamma, top, -topTerm, q};
}

void ExpectNear(C actual, C expected, double relative, const char* what) {
  const double scale = std::max(std::abs(expected), 1e-300);
  EXPECT_LE(std::abs(actual - expected) / scale, relative)
      << what << ": " << actual << " expected " << expected;
}

void ExpectAllNear(const Results& actual, const Results& expected, double relative) {
  ExpectNear(actual.gamma, expected.gamma, relative, "Gamma");
  ExpectNear(actual.root, expected.root, relative, "top root");
  ExpectNear(actual.negTerm, expected.negTerm, relative, "-k^2");
  ExpectNear(actual.q, expected.q, relative, "Q");
}

TEST(CRECUR1_WorkedCase, TenSignificantDigits) {
  const RecurrenceModel model = MakeModel({{100, 0.01f, 0, 1}, {0, 0.1f, 0, 1}}, 2);
  const Results r = Call(0.01, 2 * std::numbers::pi, model);
  auto expectDigits = [](double actual, double expected) {
    EXPECT_NEAR(actual, expected, 5e-10 * std::abs(expected)) << expected;
  };
  expectDigits(r.gamma.real(), 0.9999974166);
  expectDigits(r.gamma.imag(), 0.0004808399777);
  expectDigits(r.root.real(), 0.01000000078);
  expectDigits(r.root.imag(), -3.947837976e-6);
  EXPECT_EQ(r.negTerm.real(), 0.0);
  expectDigits(r.negTerm.imag(), -7.895676567e-8);
  expectDigits(r.q.real(), 5.574413390);
  expectDigits(r.q.imag(), 0.01088160851);
}

// One layer: the bottom modes alone decide Gamma and Q; modes outside 0..2 hand back the
// incoming entries 0 and 3.
TEST(CRECUR1_OneLayer, StartingValuesOfEachBottomMode) {
  const Results incoming = {C(0.25, -1.5), C(7, 7), C(8, 8), C(-3.0, 0.125)};
  for (int mode : {0, 1, 2, 3, -1}) {
    const std::vector<Layer> layers = {{500, 0.02f, 0.001f, 1}};
    const Results r = Call(0.003, 10.0, MakeModel(layers, mode), incoming);
    SCOPED_TRACE(mode);
    ExpectAllNear(r, Reference(0.003, 10.0, layers, mode, incoming), 1e-13);
    const C u = std::sqrt(0.003 * 0.003 - kI * 10.0 * kMu * C(0.02f, 0.001f));
    ExpectNear(r.root, u, 1e-15, "root");
    if (mode < 0 || mode > 2) {
      EXPECT_EQ(r.gamma, incoming.gamma);
      EXPECT_EQ(r.q, incoming.q);
    }
  }
}

// Below omega = 0.1f the mode-1 start rescales its quotient; the curve must not jump there.
TEST(CRECUR1_BottomMode1, ContinuousAcrossLowFrequencyLimit) {
  const double limit = 0.10000000149011612;
  const RecurrenceModel model =
      MakeModel({{30, 0.5f, 0, 1}, {120, 0.002f, 0, 1}, {4000, 0.05f, 0, 1}}, 1);
  for (double lambda : {0.0, 1e-5, 2e-3}) {
    const Results below = Call(lambda, std::nextafter(limit, 0.0), model);
    const Results at = Call(lambda, limit, model);
    SCOPED_TRACE(lambda);
    ExpectNear(below.gamma, at.gamma, 1e-13, "Gamma");
    ExpectNear(below.q, at.q, 1e-13, "Q");
  }
}

// Splitting a layer into equal layers of the same material leaves Gamma and the top root as
// they were.
TEST(CRECUR1_IdenticalLayers, SameAsOneThickLayer) {
  const Layer basement = {0, 0.3f, 0, 1};
  const std::vector<Layer> thick = {{620, 0.004f, 0, 1}, basement};
  const Results expected = Call(1e-4, 3.0, MakeModel(thick, 2));
  for (int pieces : {2, 4, 5, 10, 62}) {
    std::vector<Layer> split(pieces, Layer{620.0f / pieces, 0.004f, 0, 1});
    split.push_back(basement);
    const Results r = Call(1e-4, 3.0, MakeModel(split, 2));
    SCOPED_TRACE(pieces);
    ExpectNear(r.gamma, expected.gamma, 1e-12, "Gamma");
    ExpectNear(r.root, expected.root, 1e-15, "top root");
    ExpectNear(r.negTerm, expected.negTerm, 1e-15, "-k^2");
  }
}

// With every layer factor 1 the second recurrence's ratio c_b / c_j is the plain conductivity
// ratio of the layer below to the layer above.
TEST(CRECUR1_UnitLayerFactors, MatchesPlainConductivityRatio) {
  const std::vector<Layer> layers = {
      {50, 0.1f, 0.01f, 1}, {200, 0.001f, 0, 1}, {900, 0.03f, -0.002f, 1}, {3000, 1.5f, 0, 1}};
  for (int mode : {0, 1, 2}) {
    const Results r = Call(2e-4, 0.7, MakeModel(layers, mode));
    const Results expected = Reference(2e-4, 0.7, layers, mode);
    SCOPED_TRACE(mode);
    ExpectAllNear(r, expected, 1e-11);
  }
}

// For more than one layer the top root and k^2 handed back are the second recurrence's, scaled
// by the top layer's factor; for one layer the factor plays no part.
TEST(CRECUR1_LayerFactors, TopEntriesReflectTopFactor) {
  struct Case {
    std::vector<Layer> layers;
    C expectedNegTerm;
  };
  const double omega = 5.0;
  const Case cases[] = {
      {{{100, 0.02f, 0, 4.0f}}, -kI * omega * kMu * C(0.02f, 0)},
      {{{100, 0.02f, 0, 4.0f}, {0, 0.2f, 0, 1}}, -kI * omega * kMu * C(0.02f, 0) / 4.0},
      {{{100, 0.02f, 0, 0.5f}, {10, 0.7f, 0, 2}, {0, 0.2f, 0, 1}},
       -kI * omega * kMu * C(0.02f, 0) / 0.5},
  };
  for (const Case& c : cases) {
    const Results r = Call(1e-3, omega, MakeModel(c.layers, 2));
    SCOPED_TRACE(c.layers.size());
    ExpectNear(r.negTerm, c.expectedNegTerm, 1e-15, "-k^2");
    ExpectNear(r.root, std::sqrt(1e-3 * 1e-3 + c.expectedNegTerm), 1e-15, "top root");
  }
}

// Random models up to the full 63 layers, factors included, against the written-out
// recurrences.
TEST(CRECUR1_RandomModels, MatchReference) {
  std::mt19937 random(20261208);
  std::uniform_real_distribution<float> logUniform(-3.0f, 1.0f);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int trial = 0; trial < 40; ++trial) {
    const int n = trial < 3 ? 63 : 1 + static_cast<int>(random() % 63);
    std::vector<Layer> layers;
    for (int j = 0; j < n; ++j) {
      layers.push_back({1.0f + 200.0f * unit(random), std::pow(10.0f, logUniform(random)),
                        0.01f * (unit(random) - 0.5f), 0.5f + unit(random)});
    }
    const int mode = trial % 3;
    const double lambda = 1e-3 * unit(random);
    const double omega = std::pow(10.0, 4.0 * unit(random) - 2.0);
    SCOPED_TRACE(trial);
    ExpectAllNear(Call(lambda, omega, MakeModel(layers, mode)),
                  Reference(lambda, omega, layers, mode), 1e-9);
  }
}

// The parameter and model blocks come back byte for byte, unread stretches included.
TEST(CRECUR1_InputBlocks, ComeBackUnchanged) {
  for (int n : {1, 2, 63}) {
    RecurrenceModel model = MakeModel(std::vector<Layer>(n, Layer{10, 0.05f, 0, 1.5f}), 1);
    const RecurrenceModel before = model;
    const double parameters[3] = {0.3, -7.0, 11.0};
    const double parametersBefore[3] = {0.3, -7.0, 11.0};
    double results[8] = {};
    const double lambda = 1e-4;
    RequireEntry<CRECUR1_Entry>("CRECUR1")(&lambda, parameters, results, &model);
    EXPECT_EQ(std::memcmp(&model, &before, sizeof model), 0) << n;
    EXPECT_EQ(std::memcmp(parameters, parametersBefore, sizeof parameters), 0) << n;
  }
}

// A layer count outside 1..63 would index past the model's arrays and the layer tables; the
// routine refuses it and leaves all three blocks as they were.
TEST(CRECUR1_LayerCountOutOfRange, AllBlocksUnchanged) {
  const auto recur = RequireEntry<CRECUR1_Entry>("CRECUR1");
  ASSERT_NE(recur, nullptr);
  for (int32_t count : {0, -1, 64, 65, 1000, INT_MIN, INT_MAX}) {
    RecurrenceModel model = MakeModel(std::vector<Layer>(63, Layer{10, 0.05f, 0, 1}), 2);
    model.layerCount = count;
    const RecurrenceModel modelBefore = model;
    const double parameters[3] = {1.0, 2.0, 3.0};
    double results[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const double resultsBefore[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const double lambda = 0.0;
    recur(&lambda, parameters, results, &model);
    EXPECT_EQ(std::memcmp(results, resultsBefore, sizeof results), 0) << count;
    EXPECT_EQ(std::memcmp(&model, &modelBefore, sizeof model), 0) << count;
    EXPECT_EQ(parameters[0], 1.0);
  }
}

}  // namespace
}  // namespace vesk1::test
