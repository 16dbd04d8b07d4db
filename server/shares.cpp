#include "shares.h"

#include <cmath>

namespace vesk1 {

void ComputeShares(std::int32_t itemCount, std::span<const bool> hasModule,
                   std::span<std::int32_t> shares) {
  int usable = 0;
  int lastUsable = -1;
  for (std::size_t j = 0; j < hasModule.size(); ++j) {
    if (hasModule[j]) {
      ++usable;
      lastUsable = static_cast<int>(j);
    }
  }
  for (auto& share : shares) share = 0;
  if (usable == 0 || itemCount <= 0) return;

  const float quotient = static_cast<float>(itemCount) / static_cast<float>(usable);
  const auto perWorker =
      static_cast<std::int32_t>(static_cast<float>(std::ceil(static_cast<double>(quotient))));
  std::int32_t left = itemCount;
  for (int j = 0; j <= lastUsable; ++j) {
    if (!hasModule[static_cast<std::size_t>(j)]) continue;
    // With P * (L-1) > N the plain split would hand the last worker a negative share and the
    // ones before it positions past N-1; bounding by what is left keeps the reply in order.
    const std::int32_t share = (j == lastUsable) ? left : (perWorker < left ? perWorker : left);
    shares[static_cast<std::size_t>(j)] = share;
    left -= share;
  }
}

}  // namespace vesk1
