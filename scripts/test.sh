#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite: the release build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, the server's tests under
# ThreadSanitizer, the 64-bit Windows build with its tests under wine, and the 32-bit Windows
# build (compiled only: it pins the 32-bit record layouts, but nothing here can run it). After
# the release and the 64-bit Windows builds, scripts/install-check.sh installs each into a
# scratch prefix and builds and runs the examples against it, and checks the .deb and .zip.
# Under wine a failing test is run once more, since wine's own services now and then drop a
# connection on a loaded machine; a real fault fails both runs. The summary at the end names
# every test that passed only on its second run, so a flaky test cannot hide there.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
vesk1_install_packages "${VESK1_BUILD_PACKAGES[@]}" "${VESK1_WINDOWS_PACKAGES[@]}"

# The tests of a CTest log that failed and then passed: those the second run let through.
second_runs() {
  awk '
    match($0, /Test +#[0-9]+: [^ ]+/) {
      name = substr($0, RSTART, RLENGTH); sub(/.*: /, "", name)
      if (index($0, "***") > 0) failed[name] = 1; else if ($0 ~ / Passed/) passed[name] = 1
    }
    END { for (name in failed) if (name in passed) print name }' "$1" | sort
}

rerun=""
summary() {
  echo "=== summary"
  if [ -z "$rerun" ]; then
    echo "win64: no test needed its second run under wine"
  else
    echo "win64: these tests failed under wine and passed on their second run:"
    echo "$rerun" | sed 's/^/  /'
  fi
}

jobs=$(nproc)
for preset in release asan tsan win64; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  if [ "$preset" = win64 ]; then
    log=build/win64/ctest-output.log
    status=0
    ctest --preset win64 -j "$jobs" 2>&1 | tee "$log" || status=$?
    rerun=$(second_runs "$log")
    if [ "$status" -ne 0 ]; then
      summary
      exit "$status"
    fi
  else
    ctest --preset "$preset" -j "$jobs"
  fi
  case "$preset" in
    release | win64) bash scripts/install-check.sh "$preset" ;;
  esac
done

echo "=== win32"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
summary
