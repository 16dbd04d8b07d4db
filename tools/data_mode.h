// vesk1_client data: a measured sounding as read from an EDI or CSV file, without a server.
#ifndef VESK1_TOOLS_DATA_MODE_H
#define VESK1_TOOLS_DATA_MODE_H

#include <string>

#include "measured_data.h"
#include "sounding_model.h"
#include "sounding_output.h"

namespace vesk1::mt {

// argv[0] is "data"; returns the process exit status.
int RunData(int argc, char** argv);

// Parses "--component NAME" and "--error-floor F" at argv[i] into `options`, advancing i past
// the value. Returns 1 when taken, 0 when argv[i] is neither, -1 (with `error` set) when the
// value is missing or bad.
int TakeReadOption(int argc, char** argv, int& i, ReadOptions& options, std::string& error);

// The line printed under a sounding: how many points, what they came from, how many were left
// out.
std::string SoundingSummary(const std::string& file, const Sounding& sounding,
                            const ReadOptions& options);

// "RMS misfit X over N data (P periods, log10 apparent resistivity and phase)" of a model
// response computed at the sounding's periods, in the same order.
std::string MisfitText(const Sounding& sounding, const std::vector<sounding::CurvePoint>& model);

// The measured points with error bars over a model's curve, and the model against depth.
std::string FitSvg(const Sounding& sounding, const std::vector<sounding::CurvePoint>& curve,
                   const sounding::LayeredEarth& earth, const std::string& title,
                   const std::string& note);

}  // namespace vesk1::mt

#endif  // VESK1_TOOLS_DATA_MODE_H
