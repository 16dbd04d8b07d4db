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

// The blocked products copy the blocks of their factors that they work on into these, laid out
// in the order their innermost loop reads them (a strip of rows or a group of columns at a time,
// one depth step after another), so that the loop streams through contiguous memory that stays
// in the processor's caches instead of one cache line per column of a large matrix.
inline constexpr int kPackedDepth = 256;  // depth of one packed block
inline constexpr int kPackedRows = 96;    // rows of one packed block of A
// Columns of B that AddProductsInOrder takes at most, and the doubles of the factorization's
// packed columns (so many columns of the steps of one block, brought up to date together).
inline constexpr int kPackedColumns = 128;
inline constexpr int kFactorColumnsSize = kPackedDepth * 256;

// Scratch of the blocked products. Holds nothing meaningful between calls.
struct ProductPacks {
  alignas(64) double rows[kPackedRows * kPackedDepth];        // block of A, strip after strip
  alignas(64) double columns[kPackedDepth * kPackedColumns];  // AddProductsInOrder's B
  alignas(64) double factorColumns[kFactorColumnsSize];       // the factorization's B
};

struct LinearAlgebraState {
  PivotBuffer pivotSearch;  // scratch of the pivot search
  ProductPacks products;    // scratch of the blocked products
};

LinearAlgebraState& LinearAlgebra();

}  // namespace vesk1
