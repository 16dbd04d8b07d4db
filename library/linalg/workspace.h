// Working storage that a public routine allocates on entry and frees on every exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace vesk1 {

// Owns `count` uninitialised elements of T, or nothing when the size in bytes cannot be
// represented or the allocation fails; the caller then takes its storage-failure path.
template <class T>
class Workspace {
 public:
  explicit Workspace(uint64_t count) {
    constexpr uint64_t kMaxCount =
        static_cast<uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) / sizeof(T);
    if (count == 0 || count > kMaxCount) return;
    data_ = static_cast<T*>(std::malloc(static_cast<std::size_t>(count) * sizeof(T)));
  }
  ~Workspace() { std::free(data_); }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  T* get() const { return data_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  T* data_ = nullptr;
};

}  // namespace vesk1
