#include "mt/curve.h"

#include "mt/format.h"

namespace vesk1::mt {

std::string FormatTable(const std::vector<CurvePoint>& curve) {
  std::string table = "    period (s)  app. resistivity (ohm-m)  phase (deg)\n";
  for (const CurvePoint& p : curve) {
    table += Printf("%14.6g  %24.6g  %11.3f\n", p.period, p.resistivity, p.phase);
  }
  return table;
}

std::string FormatCsv(const std::vector<CurvePoint>& curve) {
  std::string csv = "period_s,apparent_resistivity_ohm_m,phase_deg\n";
  for (const CurvePoint& p : curve) {
    csv += Printf("%.9g,%.9g,%.9g\n", p.period, p.resistivity, p.phase);
  }
  return csv;
}

}  // namespace vesk1::mt
