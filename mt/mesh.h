// Meshes of layered earths for inversion: fixed thicknesses that grow with depth.
#ifndef VESK1_MT_MESH_H
#define VESK1_MT_MESH_H

#include <vector>

#include "mt/sounding.h"

namespace vesk1::mt {

// Thicknesses of the `layers` - 1 layers above the half-space, growing geometrically: the first
// `firstThickness` metres, the half-space's top at `bottomDepth` metres.
std::vector<double> GeometricThicknesses(int layers, double firstThickness, double bottomDepth);

// The mesh for a sounding with at least one used point: the first layer a fifth of the skin depth
// of the shortest period in the apparent resistivity measured there, the half-space below one and a
// half skin depths of the longest period (used points only).
std::vector<double> MeshForSounding(const Sounding& sounding, int layers);

// The one mesh for many soundings, each with at least one used point: the thinnest first layer
// and the deepest half-space that MeshForSounding gives any of them.
std::vector<double> MeshForSoundings(const std::vector<Sounding>& soundings, int layers);

}  // namespace vesk1::mt

#endif  // VESK1_MT_MESH_H
