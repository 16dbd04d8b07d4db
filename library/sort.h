// Sort with permutation.
#pragma once

#include <cstdint>

namespace vesk1 {

// RB = RA sorted into ascending order (RB may be the storage of RA), with IPERM permuted
// exactly as RB is: on return IPERM(k) holds what IPERM held at the position RB(k) came from.
// IPERM is not initialised here. Equal values are never exchanged with each other. NaNs come
// after all other values, in no particular order among themselves; the other values come back
// ascending exactly as they would without the NaNs among them.
// Codes: TERMINAL 1 N < 1 (RB and IPERM untouched).
void DSVRGP(int32_t n, const double* ra, double* rb, int32_t* iperm);

}  // namespace vesk1
