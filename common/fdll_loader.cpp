#include "common/fdll_loader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vesk1::common {

#if defined(_WIN32)
const char* const kFdllFileName = "vesk1_fdll.dll";
#else
const char* const kFdllFileName = "vesk1_fdll.so";
#endif

std::string FdllPath(const char* directory) {
  std::string path = directory != nullptr && directory[0] != '\0' ? directory : ".";
  if (path.back() != '/' && path.back() != '\\') path += '/';
  return path + kFdllFileName;
}

LoadedFdll LoadFdll(const char* directory) {
  return LoadFdllFile(FdllPath(directory));
}

LoadedFdll LoadFdllFile(const std::string& path) {
  LoadedFdll loaded;
#if defined(_WIN32)
  HMODULE handle = ::LoadLibraryA(path.c_str());
  if (handle == nullptr) {
    loaded.error = "cannot load " + path + ": error " + std::to_string(::GetLastError());
    return loaded;
  }
  loaded.recur =
      reinterpret_cast<CRECUR1_Entry>(reinterpret_cast<void*>(::GetProcAddress(handle, "CRECUR1")));
  loaded.factor =
      reinterpret_cast<CDLFCRG_Entry>(reinterpret_cast<void*>(::GetProcAddress(handle, "CDLFCRG")));
  loaded.handle = handle;
#else
  // A path with a separator is never searched for: this loads exactly the worker's copy.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    loaded.error = "cannot load " + path + ": " + (why != nullptr ? why : "unknown error");
    return loaded;
  }
  loaded.recur = reinterpret_cast<CRECUR1_Entry>(::dlsym(handle, "CRECUR1"));
  loaded.factor = reinterpret_cast<CDLFCRG_Entry>(::dlsym(handle, "CDLFCRG"));
  loaded.handle = handle;
#endif
  if (loaded.recur == nullptr) loaded.error = path + " has no CRECUR1";
  return loaded;
}

void UnloadFdll(LoadedFdll& loaded) {
  if (loaded.handle != nullptr) {
#if defined(_WIN32)
    ::FreeLibrary(static_cast<HMODULE>(loaded.handle));
#else
    ::dlclose(loaded.handle);
#endif
  }
  loaded = LoadedFdll();
}

}  // namespace vesk1::common
