// The figure of a profile, as SVG: the model section (resistivity against distance and depth,
// each station's column between the midpoints to its neighbours, lighter below its depth of
// investigation), each station's misfit, and pseudo-sections of measured and computed apparent
// resistivity and phase against distance and period.
#ifndef VESK1_MT_SECTION_FIGURE_H
#define VESK1_MT_SECTION_FIGURE_H

#include <string>
#include <vector>

namespace vesk1::mt {

struct SectionStation {
  std::string name;
  double distance = 0;               // metres along the line
  std::vector<double> log10Rho;      // the model, top down, half-space last
  double investigationDepth = 0;     // metres; NaN: none
  double rms = 0;
  // The used periods (seconds, ascending) with the measured and computed log10 apparent
  // resistivities and phases (degrees).
  std::vector<double> period, measuredLog10Rho, computedLog10Rho, measuredPhase, computedPhase;
};

struct SectionPlot {
  std::string title;
  std::string note;                  // a line under the title, such as the misfit
  std::vector<double> thickness;     // the mesh above the half-space, metres
  std::vector<SectionStation> stations;  // by distance
  double targetRms = 1;
  double maxDepth = 0;  // metres; 0: the deepest depth of investigation and a half
};

// The colour of a value on the resistivity scale (red for conductive, blue for resistive) or the
// phase scale, for `share` from 0 (the scale's low end) to 1; clamped to the ends.
std::string ResistivityColour(double share);
std::string PhaseColour(double share);

// The whole figure.
std::string FormatSectionSvg(const SectionPlot& plot);

}  // namespace vesk1::mt

#endif  // VESK1_MT_SECTION_FIGURE_H
