// Every piece of mutable state of the dense linear algebra. One thread at a time may be inside
// one loaded instance of the library; nothing here is locked.
#pragma once

namespace vesk1 {

// The pivot search forms the products |a(i, k) * scale(i)| in chunks of this many rows, so its
// scratch storage stays bounded however large the matrix is.
inline constexpr int kPivotChunk = 400;

// Scratch of IndexOfMaxProduct. Zero at load; holds nothing meaningful between calls.
struct PivotBuffer {
  double products[kPivotChunk];  // products of the current chunk
};

struct LinearAlgebraState {
  PivotBuffer pivotSearch;  // scratch of the pivot search
};

LinearAlgebraState& LinearAlgebra();

}  // namespace vesk1
