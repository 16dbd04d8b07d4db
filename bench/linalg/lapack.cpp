#include "lapack.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace vesk1::bench {
namespace {

// Both builds carry the same symbol names; each is opened privately with its own symbols
// binding first, so neither sees the other's.
Lapack Load(const char* name, const char* blasPath, const char* lapackPath) {
  Lapack lapack;
  lapack.name = name;
  constexpr int kFlags = RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND;
  if (blasPath != nullptr && dlopen(blasPath, kFlags) == nullptr) {
    std::fprintf(stderr, "%s: %s\n", name, dlerror());
    return lapack;
  }
  void* handle = dlopen(lapackPath, kFlags);
  if (handle == nullptr) {
    std::fprintf(stderr, "%s: %s\n", name, dlerror());
    return lapack;
  }
  lapack.dgetrf = reinterpret_cast<Dgetrf>(dlsym(handle, "dgetrf_"));
  lapack.dgecon = reinterpret_cast<Dgecon>(dlsym(handle, "dgecon_"));
  lapack.dgetri = reinterpret_cast<Dgetri>(dlsym(handle, "dgetri_"));
  lapack.dlange = reinterpret_cast<Dlange>(dlsym(handle, "dlange_"));
  using SetThreads = void (*)(int);
  if (auto set = reinterpret_cast<SetThreads>(dlsym(handle, "openblas_set_num_threads"))) set(1);
  return lapack;
}

}  // namespace

const Lapack& ReferenceLapack() {
  // The reference LAPACK finds its BLAS by soname, which the alternatives system may point at
  // OpenBLAS; loading the reference BLAS by path first makes that soname resolve to it.
  static const Lapack lapack = Load("reference", "/usr/lib/x86_64-linux-gnu/blas/libblas.so.3",
                                    "/usr/lib/x86_64-linux-gnu/lapack/liblapack.so.3");
  return lapack;
}

const Lapack& OpenBlasLapack() {
  setenv("OPENBLAS_NUM_THREADS", "1", 1);
  static const Lapack lapack =
      Load("openblas", nullptr, "/usr/lib/x86_64-linux-gnu/openblas-pthread/liblapack.so.3");
  return lapack;
}

}  // namespace vesk1::bench
