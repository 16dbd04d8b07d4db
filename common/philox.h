// Philox4x32-10 (Salmon, Moraes, Dror and Shaw 2011, "Parallel random numbers: as easy as
// 1, 2, 3"): a counter-based generator, so any draw of any stream is computed from its counter
// alone. The sampler's streams are laid out on it: keyed by the run's 64-bit seed, counter
// (first, second, purpose, 0), where a chain's step s uses (s, chain, kStepDraws) and
// (s, chain, kMoreStepDraws), its start from the prior (block, chain, kStartDraws), and the
// client's temperature swaps (round, pair, kSwapDraws). A chain's path therefore depends on its
// seed, number, controls and the data alone, never on which worker ran which step.
#ifndef VESK1_COMMON_PHILOX_H
#define VESK1_COMMON_PHILOX_H

#include <cstdint>

namespace vesk1::sounding::sampler {

enum StreamPurpose : uint32_t {
  kStepDraws = 0,
  kMoreStepDraws = 1,
  kStartDraws = 2,
  kSwapDraws = 3
};

// Ten rounds of Philox4x32 on a counter under a key.
inline void Philox4x32(const uint32_t counter[4], const uint32_t key[2], uint32_t out[4]) {
  constexpr uint32_t kM0 = 0xD2511F53u, kM1 = 0xCD9E8D57u;  // multipliers
  constexpr uint32_t kW0 = 0x9E3779B9u, kW1 = 0xBB67AE85u;  // key increments
  uint32_t c0 = counter[0], c1 = counter[1], c2 = counter[2], c3 = counter[3];
  uint32_t k0 = key[0], k1 = key[1];
  for (int round = 0; round < 10; ++round) {
    const uint64_t p0 = static_cast<uint64_t>(kM0) * c0;
    const uint64_t p1 = static_cast<uint64_t>(kM1) * c2;
    c0 = static_cast<uint32_t>(p1 >> 32) ^ c1 ^ k0;
    c1 = static_cast<uint32_t>(p1);
    c2 = static_cast<uint32_t>(p0 >> 32) ^ c3 ^ k1;
    c3 = static_cast<uint32_t>(p0);
    k0 += kW0;
    k1 += kW1;
  }
  out[0] = c0;
  out[1] = c1;
  out[2] = c2;
  out[3] = c3;
}

// Four words of one stream.
inline void DrawWords(uint64_t seed, uint32_t first, uint32_t second, StreamPurpose purpose,
                      uint32_t out[4]) {
  const uint32_t counter[4] = {first, second, purpose, 0};
  const uint32_t key[2] = {static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32)};
  Philox4x32(counter, key, out);
}

// A word as a number in (0, 1), never either end.
inline double UniformOf(uint32_t word) {
  return (static_cast<double>(word) + 0.5) * 0x1p-32;
}

}  // namespace vesk1::sounding::sampler

#endif  // VESK1_COMMON_PHILOX_H
