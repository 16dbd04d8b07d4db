#include "sort.h"

#include <cmath>
#include <utility>

#include "errors/errors.h"
#include "state.h"

namespace vesk1 {
namespace {

// Segments shorter than this (J - I < 11) are finished by straight insertion.
constexpr int32_t kInsertionLimit = 11;

// The values and the permutation entries that travel with them, addressed by 1-based position.
class SortedPair {
 public:
  SortedPair(double* values, int32_t* perm) : values_(values), perm_(perm) {}
  double& operator[](int32_t position) { return values_[position - 1]; }
  // Moves the NaNs among positions 1 .. n behind all other values and returns how many
  // values are not NaN. The values that are not NaN keep their order among themselves; the
  // NaNs end up in no particular order. Input without NaN is not touched.
  int32_t MoveNaNsToEnd(int32_t n) {
    int32_t ordered = 0;
    for (int32_t k = 0; k < n; ++k) {
      if (std::isnan(values_[k])) continue;
      if (k != ordered) {
        std::swap(values_[k], values_[ordered]);
        std::swap(perm_[k], perm_[ordered]);
      }
      ++ordered;
    }
    return ordered;
  }
  void Exchange(int32_t a, int32_t b) {
    std::swap(values_[a - 1], values_[b - 1]);
    std::swap(perm_[a - 1], perm_[b - 1]);
  }
  // Straight insertion of positions first .. last: each value smaller than the one before it
  // is held while the larger values in front of it shift one place up, never below position
  // `floor` when kBounded; otherwise the value in front of `first` must be no larger than any
  // of the segment, and stops the shifts. Every shift moves the permutation entry with its
  // value.
  template <bool kBounded>
  void Insert(int32_t first, int32_t last, int32_t floor) {
    for (int32_t x = first; x < last; ++x) {  // compares positions x and x + 1
      if (!(values_[x] < values_[x - 1])) continue;
      const double held = values_[x];
      const int32_t heldPerm = perm_[x];
      int32_t k = x;  // the free slot, 0-based
      do {
        values_[k] = values_[k - 1];
        perm_[k] = perm_[k - 1];
        --k;
      } while ((!kBounded || k >= floor) && held < values_[k - 1]);
      values_[k] = held;
      perm_[k] = heldPerm;
    }
  }

 private:
  double* values_;
  int32_t* perm_;
};

// Singleton's quicksort: median-of-three partitions around a position that moves with the
// fraction r, the smaller part first so the pending stack stays shallow, and straight
// insertion for short segments that have a smaller value in front of them as sentinel.
void Quicksort(int32_t n, SortedPair& rb, SortStack& stack) {
  int32_t depth = 0;
  int32_t i = 1;
  int32_t j = n;
  double r = 0.375;
  bool adjust = true;  // the segment came through the entry test rather than straight on
  for (;;) {
    if (adjust) {
      adjust = false;
      if (i == j) goto segmentDone;
      r = r <= 0.5898437 ? r + 0.0390625 : r - 0.21875;
    }
    if (depth == kSortStackDepth) {
      // Another pending segment would not fit. Each level at least halves the segment, so
      // this one holds at most N / 2^24 values: finish it by insertion, bounded at its start.
      rb.Insert<true>(i, j, i);
      goto segmentDone;
    }
    {
      // The pivot position is formed in double precision: r is a multiple of 1/128, so the
      // product is exact and truncation is the true floor for every N.
      const int32_t p = i + static_cast<int32_t>(static_cast<double>(j - i) * r);
      double t = rb[p];
      if (rb[i] > t) {
        rb.Exchange(p, i);
        t = rb[p];
      }
      if (rb[j] < t) {
        rb.Exchange(p, j);
        t = rb[p];
        if (rb[i] > t) {
          rb.Exchange(p, i);
          t = rb[p];
        }
      }
      // rb[i] <= t <= rb[j] stop both scans, and after each exchange the two values just
      // exchanged stop them again: NaNs never reach the quicksort, so the scans stay inside
      // the segment without a test of their position.
      int32_t l = j;
      int32_t k = i;
      for (;;) {
        do {
          --l;
        } while (rb[l] > t);
        do {
          ++k;
        } while (rb[k] < t);
        if (k > l) break;
        if (rb[l] != rb[k]) rb.Exchange(l, k);
      }
      if (l - i > j - k) {
        stack.lower[depth] = i;
        stack.upper[depth] = l;
        i = k;
      } else {
        stack.lower[depth] = k;
        stack.upper[depth] = j;
        j = l;
      }
      ++depth;
    }
  segmentReached:
    if (j - i >= kInsertionLimit) continue;
    if (i == 1) {
      adjust = true;
      continue;
    }
    // The value in front of the segment is no larger than any in it (no NaN reaches here), so
    // a shift stops there.
    rb.Insert<false>(i, j, 1);
  segmentDone:
    if (depth == 0) return;
    --depth;
    i = stack.lower[depth];
    j = stack.upper[depth];
    goto segmentReached;
  }
}

}  // namespace

void DSVRGP(int32_t n, const double* ra, double* rb, int32_t* iperm) {
  RoutineGuard guard("DSVRGP");
  // The copy also notes whether a value is NaN: most input holds none, and then no second pass
  // over it looks for them.
  bool anyNaN = false;
  for (int32_t k = 0; k < n; ++k) {
    const double v = ra[k];
    rb[k] = v;
    anyNaN |= std::isnan(v);
  }
  if (n < 1) {
    StoreIntegerParameter(1, n);
    IssueMessage(kTerminal, 1,
                 "The length of vectors RA, RB and IPERM must be greater than or equal to one.  "
                 "On input the length, N, is given as %(I1).");
  }
  if (N1RCD(0) != 0) return;
  SortedPair pair(rb, iperm);
  // A NaN compares false with everything, so a NaN median would stop neither scan and leave
  // its segment unordered: the NaNs go behind the other values first and only those are
  // sorted. Input without NaN goes through the quicksort exactly as it always has.
  const int32_t ordered = anyNaN ? pair.MoveNaNsToEnd(n) : n;
  if (ordered > 0) Quicksort(ordered, pair, EntryPoints().sortSegments);
}

}  // namespace vesk1
