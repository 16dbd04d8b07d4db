#include "mt/mesh.h"

#include <algorithm>
#include <cmath>

namespace vesk1::mt {
namespace {

// The skin depth sqrt(2 rho / (omega mu0)) in metres is this times sqrt(rho T), rho in ohm-metres
// and T in seconds.
constexpr double kSkinDepthPerRootOhmSecond = 503.3;
// The first layer is this share of the shortest period's skin depth; the half-space starts this
// many skin depths of the longest period down.
constexpr double kFirstLayerShare = 0.2, kBottomInSkinDepths = 1.5;

}  // namespace

std::vector<double> GeometricThicknesses(int layers, double firstThickness, double bottomDepth) {
  std::vector<double> thickness;
  if (layers < 2) return thickness;
  const int interfaces = layers - 1;
  const double ratio =
      interfaces > 1 ? std::pow(bottomDepth / firstThickness, 1.0 / (interfaces - 1)) : 1.0;
  double top = 0, bottom = firstThickness;
  for (int k = 0; k < interfaces; ++k) {
    thickness.push_back(bottom - top);
    top = bottom;
    bottom *= ratio;
  }
  return thickness;
}

DepthSpan SkinDepthSpan(const Sounding& sounding) {
  const std::vector<MeasuredPoint> used = UsedPoints(sounding);
  const MeasuredPoint& shortest = used.front();
  const MeasuredPoint& longest = used.back();
  auto skinDepth = [](double rho, double period) {
    return kSkinDepthPerRootOhmSecond * std::sqrt(rho * period);
  };
  return {kFirstLayerShare * skinDepth(shortest.resistivity, shortest.period),
          kBottomInSkinDepths * skinDepth(longest.resistivity, longest.period)};
}

std::vector<double> MeshForSounding(const Sounding& sounding, int layers) {
  return MeshForSoundings({sounding}, layers);
}

std::vector<double> MeshForSoundings(const std::vector<Sounding>& soundings, int layers) {
  double first = 0, bottom = 0;
  for (size_t s = 0; s < soundings.size(); ++s) {
    const DepthSpan span = SkinDepthSpan(soundings[s]);
    first = s == 0 ? span.top : std::min(first, span.top);
    bottom = std::max(bottom, span.bottom);
  }
  bottom = std::max(bottom, first * std::max(2, layers));
  return GeometricThicknesses(layers, first, bottom);
}

}  // namespace vesk1::mt
