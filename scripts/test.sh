#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite: the release build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, and the server's tests under
# ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
vesk1_install_packages "${VESK1_BUILD_PACKAGES[@]}"

jobs=$(nproc)
for preset in release asan tsan; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
