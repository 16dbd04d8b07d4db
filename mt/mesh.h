// Meshes of layered earths for inversion: fixed thicknesses that grow with depth.
#ifndef VESK1_MT_MESH_H
#define VESK1_MT_MESH_H

#include <vector>

#include "mt/sounding.h"

namespace vesk1::mt {

// Thicknesses of the `layers` - 1 layers above the half-space, growing geometrically: the first
// `firstThickness` metres, the half-space's top at `bottomDepth` metres.
std::vector<double> GeometricThicknesses(int layers, double firstThickness, double bottomDepth);

// Roughly the depths a sounding with at least one used point resolves: from a fifth of the skin
// depth of its shortest used period in the apparent resistivity measured there to one and a
// half skin depths of its longest (metres).
struct DepthSpan {
  double top = 0, bottom = 0;
};
DepthSpan SkinDepthSpan(const Sounding& sounding);

// The mesh for a sounding with at least one used point: the first layer SkinDepthSpan's top
// thick, the half-space below its bottom (or below `layers` first layers, if deeper).
std::vector<double> MeshForSounding(const Sounding& sounding, int layers);

// The one mesh for many soundings, each with at least one used point: the thinnest first layer
// and the deepest half-space that MeshForSounding gives any of them.
std::vector<double> MeshForSoundings(const std::vector<Sounding>& soundings, int layers);

}  // namespace vesk1::mt

#endif  // VESK1_MT_MESH_H
