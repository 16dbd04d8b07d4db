#include "response_engine.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "sounding.h"

// The kernel's helpers pass vectors by value between inline functions of this file only; on a
// 32-bit x87 target GCC warns that such a function's ABI differs from an SSE one, which no
// caller outside this file can see.
#pragma GCC diagnostic ignored "-Wpsabi"

// The AVX2 build is made where GCC can compile one function set for another instruction set
// and the processor is checked at run time. On Windows the cross compiler keeps the stack only
// 16-byte aligned and may spill 32-byte registers to it with aligned moves, so it stays out.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(_WIN32)
#define VESK1_ENGINE_AVX2 1
#else
#define VESK1_ENGINE_AVX2 0
#endif

namespace vesk1::sounding {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesPerRadian = 180.0 / kPi;
constexpr double kLn10 = 2.30258509299404568402;
constexpr double kLog10E = 0.43429448190325182765;
constexpr double kLog2E = 1.44269504088896340736;
constexpr double kSqrt2 = 1.41421356237309504880;
// ln 2 with its leading part short enough that n times it is exact for |n| < 2^11.
constexpr double kLn2High = 6.93147180369123816490e-01;
constexpr double kLn2Low = 1.90821492927058770002e-10;
constexpr double kTwoOverPi = 0.63661977236758134308;
// pi / 2 with its leading 33 bits apart.
constexpr double kPiOver2High = 1.57079632673412561417e+00;
constexpr double kPiOver2Low = 6.07710050650619224932e-11;
constexpr double kTanPiOver16 = 0.19891236737965800691;
constexpr double kTanPiOver8 = 0.41421356237309504880;
constexpr double kTanThreePiOver16 = 0.66817863791929891999;
constexpr double kRoundingShift = 6755399441055744.0;  // 1.5 * 2^52
constexpr double kMaxAttenuation = 40.0;               // e^-40 < 2^-53
constexpr unsigned long long kSignBit = 0x8000000000000000ull;
constexpr unsigned long long kMagnitudeBits = 0x7FFFFFFFFFFFFFFFull;
constexpr unsigned long long kMantissaBits = 0x000FFFFFFFFFFFFFull;
constexpr unsigned long long kExponentOfOne = 0x3FF0000000000000ull;

// Taylor coefficients, highest power first; each series stops where the next term is below
// 5e-17 of the value over its reduced range.
constexpr double kExpTaylor[] = {1.0 / 6227020800.0,
                                 1.0 / 479001600.0,
                                 1.0 / 39916800.0,
                                 1.0 / 3628800.0,
                                 1.0 / 362880.0,
                                 1.0 / 40320.0,
                                 1.0 / 5040.0,
                                 1.0 / 720.0,
                                 1.0 / 120.0,
                                 1.0 / 24.0,
                                 1.0 / 6.0,
                                 0.5,
                                 1.0,
                                 1.0};
// sin r = r + r^3 P(r^2).
constexpr double kSinTaylor[] = {
    -1.0 / 1307674368000.0, 1.0 / 6227020800.0, -1.0 / 39916800.0, 1.0 / 362880.0,
    -1.0 / 5040.0,          1.0 / 120.0,        -1.0 / 6.0};
constexpr double kCosTaylor[] = {1.0 / 20922789888000.0,
                                 -1.0 / 87178291200.0,
                                 1.0 / 479001600.0,
                                 -1.0 / 3628800.0,
                                 1.0 / 40320.0,
                                 -1.0 / 720.0,
                                 1.0 / 24.0,
                                 -0.5,
                                 1.0};
// atanh z / z = 1 + z^2/3 + z^4/5 + ...
constexpr double kAtanhSeries[] = {1.0 / 19, 1.0 / 17, 1.0 / 15, 1.0 / 13, 1.0 / 11,
                                   1.0 / 9,  1.0 / 7,  1.0 / 5,  1.0 / 3,  1.0};
// atan b = b + b^3 P(b^2).
constexpr double kAtanSeries[] = {1.0 / 21,  -1.0 / 19, 1.0 / 17, -1.0 / 15, 1.0 / 13,
                                  -1.0 / 11, 1.0 / 9,   -1.0 / 7, 1.0 / 5,   -1.0 / 3};

// sqrt(2 mu): attenuation = h sqrt(2 mu sigma), with the recurrence's magnetic constant.
const double kRootTwoMu = std::sqrt(2.0 * kMagneticConstant);

namespace baseline {
constexpr int kLanes = 2;
#include "response_kernel.inc"
}  // namespace baseline

#if VESK1_ENGINE_AVX2
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
constexpr int kLanes = 4;
#include "response_kernel.inc"
}  // namespace avx2
#pragma GCC pop_options

bool UseAvx2(VectorIsa isa) {
  return isa == VectorIsa::kAvx2 && VectorIsaAvailable(VectorIsa::kAvx2);
}
#endif

bool UsableThickness(double h) {
  return std::isfinite(h) && h >= 0.0;
}

}  // namespace

bool VectorIsaAvailable(VectorIsa isa) {
  if (isa == VectorIsa::kBaseline) return true;
#if VESK1_ENGINE_AVX2
  // GCC's check also asks the system whether it saves the 256-bit registers.
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

VectorIsa BestVectorIsa() {
  return VectorIsaAvailable(VectorIsa::kAvx2) ? VectorIsa::kAvx2 : VectorIsa::kBaseline;
}

const char* VectorIsaName(VectorIsa isa) {
  return isa == VectorIsa::kAvx2 ? "avx2" : "baseline";
}

bool EarthFromConductivity(std::span<const double> conductivity, std::span<const double> thickness,
                           LayeredEarth& earth) {
  const auto n = static_cast<int>(conductivity.size());
  if (n < 1 || n > kEngineMaxLayers || thickness.size() + 1 < conductivity.size()) return false;
  double rootSigma[kEngineMaxLayers];
  for (int j = 0; j < n; ++j) {
    const double sigma = conductivity[static_cast<std::size_t>(j)];
    if (!std::isfinite(sigma) || !(sigma > 0.0)) return false;
    rootSigma[j] = std::sqrt(sigma);
  }
  for (int j = 0; j + 1 < n; ++j) {
    if (!UsableThickness(thickness[static_cast<std::size_t>(j)])) return false;
  }
  earth.layers = n;
  earth.topResistivity = 1.0 / conductivity[0];
  earth.log10TopResistivity = -std::log10(conductivity[0]);
  for (int j = 0; j + 1 < n; ++j) {
    earth.attenuation[j] = thickness[static_cast<std::size_t>(j)] * kRootTwoMu * rootSigma[j];
    earth.rootRatio[j] = rootSigma[j + 1] / rootSigma[j];
  }
  return true;
}

bool EarthFromLog10Resistivity(std::span<const float> log10Resistivity,
                               std::span<const float> thickness, LayeredEarth& earth,
                               VectorIsa isa) {
  const auto n = static_cast<int>(log10Resistivity.size());
  if (n < 1 || n > kEngineMaxLayers || thickness.size() + 1 < log10Resistivity.size()) {
    return false;
  }
  for (const float v : log10Resistivity) {
    if (!(std::fabs(v) <= kEngineMaxLog10Resistivity)) return false;  // NaN fails too
  }
  for (int j = 0; j + 1 < n; ++j) {
    if (!UsableThickness(thickness[static_cast<std::size_t>(j)])) return false;
  }
#if VESK1_ENGINE_AVX2
  if (UseAvx2(isa)) {
    avx2::PrepareEarth(log10Resistivity.data(), thickness.data(), n, earth);
    return true;
  }
#endif
  (void)isa;
  baseline::PrepareEarth(log10Resistivity.data(), thickness.data(), n, earth);
  return true;
}

bool PeriodSetOf(std::span<const float> periods, PeriodSet& set) {
  const auto count = static_cast<int>(periods.size());
  if (count < 1 || count > kEngineMaxPeriods) return false;
  for (int i = 0; i < count; ++i) {
    const double period = periods[static_cast<std::size_t>(i)];
    if (!std::isfinite(period) || !(period > 0.0)) return false;
    set.rootOmega[i] = std::sqrt(2.0 * kPi / period);
  }
  for (int i = count; i < kEngineMaxPeriods; ++i) set.rootOmega[i] = set.rootOmega[count - 1];
  set.count = count;
  return true;
}

void ComputeResponses(const LayeredEarth& earth, const PeriodSet& periods, ResistivityForm form,
                      ResponseSet& responses, VectorIsa isa) {
#if VESK1_ENGINE_AVX2
  if (UseAvx2(isa)) {
    avx2::Responses(earth, periods, form, responses);
    return;
  }
#endif
  (void)isa;
  baseline::Responses(earth, periods, form, responses);
}

void EvaluateVectorFunction(VectorFunction function, const double* in, const double* in2,
                            double* out, int count, VectorIsa isa) {
#if VESK1_ENGINE_AVX2
  if (UseAvx2(isa)) {
    avx2::Evaluate(function, in, in2, out, count);
    return;
  }
#endif
  (void)isa;
  baseline::Evaluate(function, in, in2, out, count);
}

}  // namespace vesk1::sounding
