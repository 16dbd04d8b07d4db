// Loads an instance of vesk1_fdll from a given directory by path, so that every worker of the
// server computes with its own copy of the library and its process-wide state.
#pragma once

#include <vesk1/fdll.h>

#include <string>

namespace vesk1::sounding {

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

// The directory and kFdllFileName joined with one separator.
std::string FdllPath(const char* directory);

}  // namespace vesk1::sounding
