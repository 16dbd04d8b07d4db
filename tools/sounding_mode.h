// vesk1_client sounding: a magnetotelluric sounding curve of a layered-earth model file,
// computed by vesk1_pipe running the sounding module.
#ifndef VESK1_TOOLS_SOUNDING_MODE_H
#define VESK1_TOOLS_SOUNDING_MODE_H

namespace vesk1::sounding {

// argv[0] is "sounding"; returns the process exit status.
int RunSounding(int argc, char** argv);

}  // namespace vesk1::sounding

#endif  // VESK1_TOOLS_SOUNDING_MODE_H
