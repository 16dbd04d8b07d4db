// vesk1_client invert: Occam's smooth 1D inversion of a measured sounding, with the forward
// responses and sensitivities computed by vesk1_pipe's workers running the sounding module.
#ifndef VESK1_TOOLS_INVERT_MODE_H
#define VESK1_TOOLS_INVERT_MODE_H

namespace vesk1::mt {

// argv[0] is "invert"; `program` is the client's own path, beside which vesk1_fdll is looked
// for. Returns the process exit status.
int RunInvert(int argc, char** argv, const char* program);

}  // namespace vesk1::mt

#endif  // VESK1_TOOLS_INVERT_MODE_H
