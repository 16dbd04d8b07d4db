#include "mt/response.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "mt/readers/text.h"

namespace vesk1::mt {
namespace {

using readers::Upper;

double Clean(double v) {
  return std::isfinite(v) && v > 0 ? v : 0.0;
}

// The impedance an apparent resistivity and phase stand for.
Complex ImpedanceOf(double period, double rho, double phaseDeg) {
  const double magnitude = std::sqrt(rho / (0.2 * period));
  return std::polar(magnitude, phaseDeg * kPi / 180.0);
}

// The yx phase of a measured tensor lies in the third quadrant; -Zyx brings it to the first.
double FirstQuadrant(double phase) {
  double p = std::fmod(phase, 360.0);
  if (p > 180) p -= 360;
  if (p <= -180) p += 360;
  if (p <= -90) return p + 180;
  if (p > 90) return p - 180;
  return p;
}

}  // namespace

bool ParseComponent(std::string_view name, Component& component) {
  const std::string n = Upper(name);
  if (n == "DET")
    component = Component::kDeterminant;
  else if (n == "XY")
    component = Component::kXY;
  else if (n == "YX")
    component = Component::kYX;
  else if (n == "MEAN")
    component = Component::kMean;
  else
    return false;
  return true;
}

const char* ComponentName(Component component) {
  switch (component) {
    case Component::kDeterminant:
      return "det";
    case Component::kXY:
      return "xy";
    case Component::kYX:
      return "yx";
    case Component::kMean:
      return "mean";
  }
  return "?";
}

const char* StatusName(PointStatus status) {
  switch (status) {
    case PointStatus::kUsed:
      return "used";
    case PointStatus::kExcluded:
      return "excluded";
    case PointStatus::kOutOfQuadrant:
      return "out-of-quadrant";
    case PointStatus::kMissing:
      return "missing";
  }
  return "?";
}

bool ParseStatus(std::string_view name, PointStatus& status) {
  for (PointStatus s : {PointStatus::kUsed, PointStatus::kExcluded, PointStatus::kOutOfQuadrant,
                        PointStatus::kMissing}) {
    if (name == StatusName(s)) {
      status = s;
      return true;
    }
  }
  return false;
}

double ApparentResistivity(std::complex<double> impedance, double period) {
  return 0.2 * period * std::norm(impedance);
}

double PhaseDegrees(std::complex<double> impedance) {
  return std::arg(impedance) * 180.0 / kPi;
}

MeasuredPoint PointFromImpedance(double period, std::complex<double> impedance, double dZ,
                                 double errorFloor) {
  const double magnitude = std::abs(impedance);
  const double relative = std::max(dZ / magnitude, errorFloor);
  MeasuredPoint p;
  p.period = period;
  p.resistivity = ApparentResistivity(impedance, period);
  p.phase = PhaseDegrees(impedance);
  p.resistivityError = 2 * relative * p.resistivity;
  p.phaseError = relative * 180.0 / kPi;
  return p;
}

Tensor Rotated(const Tensor& t, double degrees) {
  const double a = degrees * kPi / 180.0, c = std::cos(a), s = std::sin(a);
  const double r[2][2] = {{c, s}, {-s, c}};
  Tensor out;
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      Complex z = 0;
      double var = 0;
      for (int k = 0; k < 2; ++k) {
        for (int l = 0; l < 2; ++l) {
          z += r[i][k] * r[j][l] * t.z[k][l];
          var += r[i][k] * r[i][k] * r[j][l] * r[j][l] * Clean(t.var[k][l]);
        }
      }
      out.z[i][j] = z;
      out.var[i][j] = var;
    }
  }
  return out;
}

bool IsMissing(Complex z) {
  return std::isnan(z.real()) || std::isnan(z.imag());
}

bool ResponseOfTensor(const Tensor& t, Component component, Complex& z, double& dz) {
  const Complex xx = t.z[0][0], xy = t.z[0][1], yx = t.z[1][0], yy = t.z[1][1];
  const double vxx = Clean(t.var[0][0]), vxy = Clean(t.var[0][1]), vyx = Clean(t.var[1][0]),
               vyy = Clean(t.var[1][1]);
  switch (component) {
    case Component::kXY:
      if (IsMissing(xy)) return false;
      z = xy;
      dz = std::sqrt(vxy);
      return true;
    case Component::kYX:
      if (IsMissing(yx)) return false;
      z = -yx;
      dz = std::sqrt(vyx);
      return true;
    case Component::kMean:
      if (IsMissing(xy) || IsMissing(yx)) return false;
      z = 0.5 * (xy - yx);
      dz = 0.5 * std::sqrt(vxy + vyx);
      return true;
    case Component::kDeterminant: {
      if (IsMissing(xx) || IsMissing(xy) || IsMissing(yx) || IsMissing(yy)) return false;
      z = std::sqrt(xx * yy - xy * yx);
      if (z.real() < 0 || (z.real() == 0 && z.imag() < 0)) z = -z;
      // First-order propagation through the determinant, then through the root.
      const double varDet =
          std::norm(yy) * vxx + std::norm(xx) * vyy + std::norm(yx) * vxy + std::norm(xy) * vyx;
      dz = std::abs(z) > 0 ? std::sqrt(varDet) / (2 * std::abs(z)) : 0;
      return true;
    }
  }
  return false;
}

bool ResponseOfRhoPhase(const RhoPhase& r, double period, Component component, Complex& z,
                        double& dz) {
  auto one = [&](int k, Complex& zk, double& dk) {
    if (std::isnan(r.rho[k]) || std::isnan(r.phs[k]) || r.rho[k] <= 0) return false;
    const double phase = k == 1 ? FirstQuadrant(r.phs[k]) : r.phs[k];
    zk = ImpedanceOf(period, r.rho[k], phase);
    // The larger of the two relative errors the values carry.
    const double relative =
        std::max(Clean(r.rhoErr[k]) / (2 * r.rho[k]), Clean(r.phsErr[k]) * kPi / 180.0);
    dk = relative * std::abs(zk);
    return true;
  };
  Complex zxy, zyx;
  double dxy = 0, dyx = 0;
  switch (component) {
    case Component::kXY:
      return one(0, z, dz);
    case Component::kYX:
      return one(1, z, dz);
    case Component::kMean:
      if (!one(0, zxy, dxy) || !one(1, zyx, dyx)) return false;
      z = 0.5 * (zxy + zyx);
      dz = 0.5 * std::sqrt(dxy * dxy + dyx * dyx);
      return true;
    case Component::kDeterminant:
      if (!one(0, zxy, dxy) || !one(1, zyx, dyx)) return false;
      // For an off-diagonal tensor: geometric mean of the resistivities, mean of the phases.
      z = std::sqrt(zxy * zyx);
      dz = 0.5 * std::abs(z) * std::hypot(dxy / std::abs(zxy), dyx / std::abs(zyx));
      return true;
  }
  return false;
}

}  // namespace vesk1::mt
