// The one-dimensional magnetotelluric response of a measured impedance tensor: which component,
// its apparent resistivity and phase, and their standard errors. Every reader reduces what its
// format holds (impedances, apparent resistivities and phases, spectra) to these points.
#ifndef VESK1_MT_RESPONSE_H
#define VESK1_MT_RESPONSE_H

#include <complex>
#include <limits>
#include <string_view>

namespace vesk1::mt {

inline constexpr double kPi = 3.14159265358979323846;
// A value that is missing from a file, or was never given.
inline constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

using Complex = std::complex<double>;

// Which one-dimensional response of the impedance tensor a sounding holds.
enum class Component {
  kDeterminant,  // sqrt(Zxx Zyy - Zxy Zyx), the root with non-negative real part
  kXY,           // Zxy
  kYX,           // -Zyx, so that its phase lies in the first quadrant as Zxy's does
  kMean,         // (Zxy - Zyx) / 2
};

// "det", "xy", "yx", "mean"; false for anything else.
bool ParseComponent(std::string_view name, Component& component);
const char* ComponentName(Component component);

// What became of one measured period. Only kUsed points are fitted; the others stay in the
// sounding so that tables, CSV files, summaries and figures can show what was set aside.
enum class PointStatus {
  kUsed,           // fitted
  kExcluded,       // outside the band of --periods, or inside one of --exclude-periods
  kOutOfQuadrant,  // its phase lies outside its component's quadrant (--drop-out-of-quadrant)
  kMissing,        // a value the response needs is missing: those of its values are NaN
};

// "used", "excluded", "out-of-quadrant", "missing"; ParseStatus is false for anything else.
const char* StatusName(PointStatus status);
bool ParseStatus(std::string_view name, PointStatus& status);

struct MeasuredPoint {
  double period;            // seconds
  double resistivity;       // apparent resistivity, ohm-metres
  double phase;             // degrees
  double resistivityError;  // standard error of the apparent resistivity, ohm-metres
  double phaseError;        // standard error of the phase, degrees
  PointStatus status = PointStatus::kUsed;
};

// Apparent resistivity in ohm-metres and phase in degrees of an impedance in field units,
// (mV/km)/nT, at a period in seconds: 0.2 T |Z|^2 and arg Z.
double ApparentResistivity(std::complex<double> impedance, double period);
double PhaseDegrees(std::complex<double> impedance);

// The point of an impedance with standard error dZ (same units), after raising dZ to
// errorFloor |Z|: relative error of the apparent resistivity 2 dZ / |Z|, phase error dZ / |Z|
// radians.
MeasuredPoint PointFromImpedance(double period, std::complex<double> impedance, double dZ,
                                 double errorFloor);

// One frequency's measured values, NaN where missing or absent.
struct Tensor {
  Complex z[2][2] = {{kMissing, kMissing}, {kMissing, kMissing}};
  double var[2][2] = {{0, 0}, {0, 0}};  // variances of the complex values; 0 when not given
};

struct RhoPhase {
  double rho[2] = {kMissing, kMissing};  // xy, yx
  double phs[2] = {kMissing, kMissing};
  double rhoErr[2] = {0, 0};
  double phsErr[2] = {0, 0};
};

// The tensor in axes turned `degrees` clockwise (x from north towards east): R Z R^T with
// R = [[cos, sin], [-sin, cos]], the variances carried as those of independent components.
Tensor Rotated(const Tensor& t, double degrees);

// Whether either part of an impedance is missing.
bool IsMissing(Complex z);

// The chosen 1D response of a tensor and its standard error; false when a value it needs is
// missing.
bool ResponseOfTensor(const Tensor& t, Component component, Complex& z, double& dz);

// The chosen 1D response of one period's (seconds) apparent resistivities and phases, taken as
// the impedances they stand for, and its standard error; false when a value it needs is
// missing.
bool ResponseOfRhoPhase(const RhoPhase& r, double period, Component component, Complex& z,
                        double& dz);

}  // namespace vesk1::mt

#endif  // VESK1_MT_RESPONSE_H
