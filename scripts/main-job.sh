#!/usr/bin/env bash
# Installs what is missing, builds vesk1 and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
vesk1_install_packages "${VESK1_BUILD_PACKAGES[@]}"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
echo "vesk1: built into build/release/bin"
