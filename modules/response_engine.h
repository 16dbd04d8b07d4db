// The one-dimensional response of a layered earth over a half-space with real conductivities,
// for many periods at once: the bottom-up recurrence CRECUR1 runs for lambda = 0 and bottom
// mode 2, computed here in double precision on vector registers, one period per lane.
//
// With u_j = sqrt(-i omega mu sigma_j) = a_j (1 - i), every layer's root has the same phase, so
// the recurrence's ratio of neighbouring roots is the real r_j = sqrt(sigma_(j+1) / sigma_j),
// and the attenuation over layer j is exp(-2 h_j u_j) = exp(-x) (cos x + i sin x) with
// x = h_j sqrt(2 mu sigma_j) sqrt(omega). From Gamma = 1 at the half-space's top, upwards:
//   Gamma_j = (A + B) / (A - B),  A = r_j + Gamma_(j+1),  B = e_j (Gamma_(j+1) - r_j),
// and at the surface rho_a = |Gamma_0|^2 / sigma_0, phase = 45 degrees - arg Gamma_0 (the
// impedance Z = -i omega mu Gamma_0 / u_0 that the sounding kind forms from CRECUR1's Gamma).
// Per layer and period this costs one exponential and one sine-cosine pair of a real argument
// instead of CRECUR1's complex root and complex exponential, and no call through the library.
//
// Two builds of the same code: a baseline one for any processor, and one for AVX2 chosen at
// run time where the processor and the system support it. Both do the same operations in the
// same order on every lane, so their results agree bit for bit.
#pragma once

#include <cstdint>
#include <span>

namespace vesk1::sounding {

// Layers of one earth, the half-space included, and periods of one call.
inline constexpr int kEngineMaxLayers = 128;
inline constexpr int kEngineMaxPeriods = 256;

enum class VectorIsa { kBaseline, kAvx2 };

// True when this build has the instruction set and the processor and system run it.
bool VectorIsaAvailable(VectorIsa isa);
// AVX2 where available, otherwise the baseline. (Windows builds use the baseline: the
// cross compiler cannot keep 32-byte stack slots aligned there.)
VectorIsa BestVectorIsa();
const char* VectorIsaName(VectorIsa isa);

// The per-layer numbers of the recurrence. Filled by one of the Earth... functions.
struct LayeredEarth {
  int layers = 0;                        // n, the half-space included, 1..kEngineMaxLayers
  double topResistivity = 0;             // 1 / sigma_0, ohm-metres
  double log10TopResistivity = 0;        // its log10
  double attenuation[kEngineMaxLayers];  // h_j sqrt(2 mu sigma_j) for j < n - 1
  double rootRatio[kEngineMaxLayers];    // sqrt(sigma_(j+1) / sigma_j) for j < n - 1
};

// From conductivities (S/m, n values) and the thicknesses above the half-space (metres,
// n - 1 values). False, and `earth` unusable, unless 1 <= n <= kEngineMaxLayers, every
// conductivity is finite and positive and every thickness finite and not negative.
bool EarthFromConductivity(std::span<const double> conductivity, std::span<const double> thickness,
                           LayeredEarth& earth);

// From log10 resistivities (ohm-metres, n values) and thicknesses (n - 1 values), as the
// model batches and the sampler hold them. False under the conditions above, or when a log10
// resistivity lies outside +-kEngineMaxLog10Resistivity.
inline constexpr double kEngineMaxLog10Resistivity = 30.0;
bool EarthFromLog10Resistivity(std::span<const float> log10Resistivity,
                               std::span<const float> thickness, LayeredEarth& earth,
                               VectorIsa isa = BestVectorIsa());

// The periods of a call as the recurrence needs them: sqrt(omega) = sqrt(2 pi / T), padded
// past `count` with the last value so that every lane computes something finite.
struct PeriodSet {
  int count = 0;
  alignas(32) double rootOmega[kEngineMaxPeriods];
};

// From periods in seconds. False unless 1 <= count <= kEngineMaxPeriods and every period is
// finite and positive.
bool PeriodSetOf(std::span<const float> periods, PeriodSet& set);

// Responses at each period of a set, entry i for period i.
struct ResponseSet {
  alignas(32) double resistivity[kEngineMaxPeriods];  // ohm-metres, or log10 of it
  alignas(32) double phase[kEngineMaxPeriods];        // degrees
};

enum class ResistivityForm { kOhmMetres, kLog10 };

// Apparent resistivity and phase of `earth` at every period of `periods`.
void ComputeResponses(const LayeredEarth& earth, const PeriodSet& periods, ResistivityForm form,
                      ResponseSet& responses, VectorIsa isa = BestVectorIsa());

// The vector elementary functions the recurrence is built on, for their tests: out[i] = f(in[i])
// for i < count (count a multiple of 4), through the given build. Domains: exp |x| <= 708,
// sine and cosine 0 <= x <= 40, log positive normal numbers, atan2 any pair but (0, 0).
enum class VectorFunction { kExp, kSin, kCos, kLog, kAtan2 };
void EvaluateVectorFunction(VectorFunction function, const double* in, const double* in2,
                            double* out, int count, VectorIsa isa);

}  // namespace vesk1::sounding
