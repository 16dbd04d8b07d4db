// Loads the built vesk1_fdll by path and looks its entries up by name, as its callers do.
#pragma once

#include <gtest/gtest.h>

#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vesk1::test {

class LoadedLibrary {
 public:
  explicit LoadedLibrary(const char* path) {
#if defined(_WIN32)
    handle_ = ::LoadLibraryA(path);
#else
    handle_ = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
  }
  ~LoadedLibrary() {
#if defined(_WIN32)
    if (handle_ != nullptr) ::FreeLibrary(handle_);
#else
    if (handle_ != nullptr) ::dlclose(handle_);
#endif
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  bool Loaded() const {
    return handle_ != nullptr;
  }

  // The named entry, or null when the library does not export it.
  template <typename Entry>
  Entry Find(const char* name) const {
    if (handle_ == nullptr) return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(handle_, name)));
#else
    return reinterpret_cast<Entry>(::dlsym(handle_, name));
#endif
  }

 private:
#if defined(_WIN32)
  HMODULE handle_ = nullptr;
#else
  void* handle_ = nullptr;
#endif
};

// The one instance the tests of a program share, loaded on first use.
inline const LoadedLibrary& Fdll() {
  static const LoadedLibrary library(VESK1_FDLL_FILE);
  return library;
}

// Looks an entry up in the shared instance and fails the calling test when it is missing.
template <typename Entry>
Entry RequireEntry(const char* name) {
  Entry entry = Fdll().Find<Entry>(name);
  EXPECT_NE(entry, nullptr) << name << " not found in " << VESK1_FDLL_FILE;
  return entry;
}

}  // namespace vesk1::test
