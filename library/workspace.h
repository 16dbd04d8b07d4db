// Working storage that a public routine allocates on entry and frees on every exit, and the
// column-major addressing every room uses on it and on the caller's arrays.
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

// Issues the TERMINAL error code 2 of a routine whose workspace, sized from its argument N,
// could not be allocated: the blank message that marks the routine's outcome first, then the
// storage message naming N.
void IssueStorageFailure(int32_t n);

// Offset of element (i, j), counted from 1, in a column-major array of leading dimension ld;
// computed in the address width so that large matrices do not overflow 32-bit arithmetic.
inline std::ptrdiff_t At(int32_t i, int32_t j, int32_t ld) {
  return static_cast<std::ptrdiff_t>(i - 1) +
         static_cast<std::ptrdiff_t>(j - 1) * static_cast<std::ptrdiff_t>(ld);
}

}  // namespace vesk1
