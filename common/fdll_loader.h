// Loads an instance of vesk1_fdll at run time by path: each worker's module loads its own copy
// from its worker directory (so every worker has the library's process-wide state to itself),
// and the client loads one to solve the inversion's systems.
#ifndef VESK1_COMMON_FDLL_LOADER_H
#define VESK1_COMMON_FDLL_LOADER_H

#include <string>

#include "vesk1/fdll.h"

namespace vesk1::common {

// File name of the library beside the module in a worker directory.
extern const char* const kFdllFileName;

struct LoadedFdll {
  void* handle = nullptr;          // the loaded instance; null when loading failed
  CRECUR1_Entry recur = nullptr;   // its CRECUR1, null when loading failed
  CDLFCRG_Entry factor = nullptr;  // its CDLFCRG (for callers that solve systems), or null
  std::string error;               // why loading failed, empty on success
};

// Loads kFdllFileName from `directory` (with or without a trailing separator; null or empty
// means the current directory) and looks CRECUR1 up. Never throws and never exits.
LoadedFdll LoadFdll(const char* directory);
// The same for a library file given by its path.
LoadedFdll LoadFdllFile(const std::string& path);

// Releases a library LoadFdll or LoadFdllFile loaded and leaves `loaded` empty; nothing
// happens when it holds none.
void UnloadFdll(LoadedFdll& loaded);

// The directory and kFdllFileName joined with one separator.
std::string FdllPath(const char* directory);

}  // namespace vesk1::common

#endif  // VESK1_COMMON_FDLL_LOADER_H
