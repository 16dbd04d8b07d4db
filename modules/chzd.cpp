// The two entries the server calls in each worker's copy of the module.
#include <vesk1/module.h>

#include <cstdio>

#include "common/fdll_loader.h"
#include "sampler_memory.h"
#include "sounding.h"

#if defined(_WIN32)
#define VESK1_MODULE_API __declspec(dllexport)
#else
#define VESK1_MODULE_API __attribute__((visibility("default")))
#endif

namespace {

// Everything this instance of the module keeps: the vesk1_fdll instance it loaded from its
// worker directory, and the sampler's data set. Each worker loads its own copy of the module
// file, so no two threads ever share this; CLOADFCHZD runs before the worker's thread starts.
struct ModuleState {
  vesk1::common::LoadedFdll fdll;
  vesk1::sounding::sampler::SamplerMemory sampler;
#if !defined(_WIN32)
  // Unloading the module releases the library it loaded, so its worker directory can be
  // removed. Windows runs a DLL's static destructors inside DllMain, where FreeLibrary is not
  // safe, so there the library stays until the process ends. (The server itself ends with
  // _Exit and never gets here while its workers compute.)
  ~ModuleState() {
    vesk1::common::UnloadFdll(fdll);
  }
#endif
};

ModuleState gModule;

}  // namespace

extern "C" {

// Loads vesk1_fdll from the worker's directory. A missing library is reported on standard
// error and leaves the worker answering NaN entries. Returns 0 on success, 1 otherwise.
VESK1_MODULE_API int CLOADFCHZD(const char* workerDirectory) {
  if (gModule.fdll.recur != nullptr) return 0;
  gModule.fdll = vesk1::common::LoadFdll(workerDirectory);
  if (gModule.fdll.recur == nullptr) {
    std::fprintf(stderr, "vesk1_chzd: %s; this worker answers NaN\n", gModule.fdll.error.c_str());
    std::fflush(stderr);
    return 1;
  }
  return 0;
}

// Computes the worker's share into the one buffer position that is not null.
VESK1_MODULE_API int CHZD(void* first, void* second, void* third, void* slot) {
  void* buffer = first != nullptr ? first : second != nullptr ? second : third;
  if (buffer == nullptr || slot == nullptr) return 1;
  const auto* workerSlot = static_cast<const WorkerSlot*>(slot);
  vesk1::sounding::ComputeShare(gModule.fdll.recur, &gModule.sampler, workerSlot->request,
                                static_cast<unsigned char*>(buffer));
  return 0;
}

}  // extern "C"
