#!/usr/bin/env bash
# Installs what is missing, builds vesk1 and runs its main job: vesk1_pipe with the sounding
# module and vesk1_fdll in a fresh working directory, a magnetotelluric sounding of the shipped
# three-layer example (40 periods from 0.001 to 10000 s) printed as a table and plotted as SVG,
# then an Occam inversion of the example measured sounding (examples/measured_site.edi, made
# from that earth with noise) on a fresh server, plotted with the data, the fit, the recovered
# and the true model, then the sampler's posterior of the same sounding (how deep the
# conductor is, give or take, plotted with the Occam model and the true one over it), and
# last the laterally constrained inversion of the example profile (examples/profile, twelve
# stations) with each station's misfit and the section.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
vesk1_install_packages "${VESK1_BUILD_PACKAGES[@]}"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target vesk1_pipe vesk1_client vesk1_chzd vesk1_fdll
bin="$PWD/build/release/bin"
model="examples/three_layer_earth.txt"
out="$PWD/run/main-job"
plot="$out/sounding.svg"
measured="examples/measured_site.edi"
inversion_plot="$out/inversion.svg"
posterior_plot="$out/posterior.svg"
profile_list="examples/profile/files.txt"
section_plot="$out/section.svg"
mkdir -p "$out"

# A fresh working directory: the server copies vesk1*.so from it into its worker directories
# ./1/, ./2/, ..., and its socket lives there too, so the instance is always free.
work=$(mktemp -d "${TMPDIR:-/tmp}/vesk1-main-job.XXXXXX")
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp "$bin/vesk1_chzd.so" "$bin/vesk1_fdll.so" "$work/"
export TMPDIR="$work"
instance=1

# The server serves one client for its whole life, so each step below starts it afresh.
start_server() {
  echo "=== vesk1_pipe $instance in $work"
  : >"$work/server.log"
  (cd "$work" && exec "$bin/vesk1_pipe" "$instance" >"$work/server.log" 2>&1) &
  server_pid=$!
  for _ in $(seq 1 1200); do
    grep -q "Waiting for connect" "$work/server.log" 2>/dev/null && return 0
    if ! kill -0 "$server_pid" 2>/dev/null; then
      echo "vesk1_pipe ended during start-up:" >&2
      cat "$work/server.log" >&2
      exit 1
    fi
    sleep 0.05
  done
}

wait_for_stop() {
  local status=0
  wait "$server_pid" || status=$?
  server_pid=""
  if [ "$status" -ne 1 ]; then  # the stop command ends the server with status 1
    echo "vesk1_pipe ended with status $status:" >&2
    cat "$work/server.log" >&2
    exit 1
  fi
}

start_server
echo "=== sounding of $model"
grep -v '^#' "$model"
echo
"$bin/vesk1_client" sounding --model "$model" --range 0.001 10000 40 --svg "$plot" --stop \
  "$instance"
wait_for_stop

echo
start_server
echo "=== Occam inversion of $measured (made from $model with 3% noise)"
"$bin/vesk1_client" invert --data "$measured" --true-model "$model" \
  --model-out "$out/recovered_model.txt" --csv "$out/inversion_fit.csv" --svg "$inversion_plot" \
  --stop "$instance"
wait_for_stop

echo
start_server
echo "=== Bayesian sampling of $measured (layered earths in proportion to how well they fit)"
"$bin/vesk1_client" sample --data "$measured" --occam-model "$out/recovered_model.txt" \
  --true-model "$model" --csv "$out/posterior.csv" --svg "$posterior_plot" --stop "$instance"
wait_for_stop

echo
start_server
echo "=== Laterally constrained inversion of the example profile ($profile_list, 12 stations)"
"$bin/vesk1_client" profile --list "$profile_list" --svg "$section_plot" \
  --csv "$out/section.csv" --model-dir "$out/profile-models" --stop "$instance"
wait_for_stop

echo
echo "Plot of the curve: $plot"
echo "Plot of the inversion (measured data with error bars, the fit, the recovered and the true" \
  "model): $inversion_plot"
echo "Recovered model: $out/recovered_model.txt; data and fit side by side: $out/inversion_fit.csv"
echo "Plot of the posterior (density of resistivity against depth with the Occam and the true" \
  "model, histograms of interface depths and layer counts, data and the sampled responses):" \
  "$posterior_plot; its 5/16/50/84/95 % points per depth: $out/posterior.csv"
echo "Section of the profile (model section, each station's misfit, measured and computed" \
  "pseudo-sections): $section_plot; models: $out/profile-models/, table: $out/section.csv"
