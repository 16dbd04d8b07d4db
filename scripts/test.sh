#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite: the release build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, the server's tests under
# ThreadSanitizer, the 64-bit Windows build with its tests under wine, and the 32-bit Windows
# build (compiled only: it pins the 32-bit record layouts, but nothing here can run it). After
# the release and the 64-bit Windows builds, scripts/install-check.sh installs each into a
# scratch prefix and builds and runs the examples against it, and checks the .deb and .zip.
# Under wine a failing test is run once more, since wine's own services now and then drop a
# connection on a loaded machine; a real fault fails both runs.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
vesk1_install_packages "${VESK1_BUILD_PACKAGES[@]}" "${VESK1_WINDOWS_PACKAGES[@]}"

jobs=$(nproc)
for preset in release asan tsan win64; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
  case "$preset" in
    release | win64) bash scripts/install-check.sh "$preset" ;;
  esac
done

echo "=== win32"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
