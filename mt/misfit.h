// How well a model's response fits a measured sounding: the data as an inversion fits them
// (log10 apparent resistivity and phase with standard errors) and the RMS of the normalised
// residuals.
#ifndef VESK1_MT_MISFIT_H
#define VESK1_MT_MISFIT_H

#include <string>
#include <vector>

#include "mt/curve.h"
#include "mt/sounding.h"

namespace vesk1::mt {

// Data of a sounding as the inversion fits them, its used points only: log10 rho_a then phases,
// with standard errors.
struct FitData {
  std::vector<double> value;
  std::vector<double> error;
};
FitData FitDataOf(const Sounding& sounding);

// sqrt(sum(((d - f) / sd)^2) / N) over the 2P data; infinite when a response is not finite.
double RmsMisfit(const FitData& data, const std::vector<double>& log10Rho,
                 const std::vector<double>& phase);

// "RMS misfit X over N data (P periods, log10 apparent resistivity and phase)" of a model
// response computed at the periods of the sounding's used points, in the same order.
std::string MisfitText(const Sounding& sounding, const std::vector<CurvePoint>& model);

}  // namespace vesk1::mt

#endif  // VESK1_MT_MISFIT_H
