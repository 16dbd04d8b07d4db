// Sort with permutation.
#pragma once

#include <cstdint>

namespace vesk1 {

// RB = RA sorted into ascending order (RB may be the storage of RA), with IPERM permuted
// exactly as RB is: on return IPERM(k) holds what IPERM held at the position RB(k) came from.
// IPERM is not initialised here. Equal values are never exchanged with each other. Any input
// sorts without fault, NaNs included (their place in the order is then unspecified).
// Codes: TERMINAL 1 N < 1 (RB and IPERM untouched).
void DSVRGP(int32_t n, const double* ra, double* rb, int32_t* iperm);

}  // namespace vesk1
