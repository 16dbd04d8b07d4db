// Every piece of mutable state of the library's entry points and own routines. One thread at a
// time may be inside one loaded instance of the library; nothing here is locked.
#pragma once

#include <vesk1/fdll.h>

#include "complex.h"

namespace vesk1 {

inline constexpr int kRecurrenceTableSize = 64;

// The recurrence works on its own copies of the caller's blocks and keeps its layer tables
// between calls. All zero at load; nothing needs initialising before first use.
struct RecurrenceBlocks {
  double parameters[3];   // copy of the parameter block; only [0], omega, is read
  Complex results[4];     // copy of the result block, then the results handed back
  RecurrenceModel model;  // copy of the model block
  // Per-layer k^2 and root u of the latest call: entry 0 the bottom layer, entry i layer n - i.
  // Entries past the latest layer count keep what earlier calls left.
  Complex layerTerms[kRecurrenceTableSize];
  Complex layerRoots[kRecurrenceTableSize];
};

inline constexpr int kSortStackDepth = 24;

// Segments the sort's quicksort has set aside, as first and last positions (1-based). Each
// call starts with the stack empty; the contents mean nothing between calls.
struct SortStack {
  int32_t lower[kSortStackDepth];
  int32_t upper[kSortStackDepth];
};

struct EntryPointState {
  RecurrenceBlocks recurrence;  // static blocks and work tables of LayeredEarthRecurrence
  SortStack sortSegments;       // pending segments of DSVRGP's quicksort
};

EntryPointState& EntryPoints();

}  // namespace vesk1
