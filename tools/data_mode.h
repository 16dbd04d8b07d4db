// vesk1_client data: a measured sounding as read from an EDI or CSV file, without a server.
#ifndef VESK1_TOOLS_DATA_MODE_H
#define VESK1_TOOLS_DATA_MODE_H

#include <string>

#include "measured_data.h"

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

}  // namespace vesk1::mt

#endif  // VESK1_TOOLS_DATA_MODE_H
