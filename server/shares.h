// How a request's items are split into one contiguous share per worker. Pure functions.
#ifndef VESK1_SERVER_SHARES_H
#define VESK1_SERVER_SHARES_H

#include <cstdint>
#include <span>

namespace vesk1 {

// Splits itemCount items over the workers that have a module: each gets P = ceil(N / L) items
// (L such workers, the quotient taken in single precision) in worker order, the last of them
// the rest. Shares are bounded by what is left, so none is negative and none reaches past item
// N-1: the shares, laid end to end, cover items 0..N-1 exactly once and in order.
//   itemCount  on entry, N, 0 to 255.
//   hasModule  on entry, per worker, whether it may be given work; a worker without one gets 0.
//   shares     on return, per worker (same length as hasModule), its number of items.
void ComputeShares(std::int32_t itemCount, std::span<const bool> hasModule,
                   std::span<std::int32_t> shares);

}  // namespace vesk1

#endif  // VESK1_SERVER_SHARES_H
