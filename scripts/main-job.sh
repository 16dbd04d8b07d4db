#!/usr/bin/env bash
# Installs what is missing, builds vesk1 and runs its main job: the server on the test
# computation module in a fresh working directory, one client request answered, the server
# stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
vesk1_install_packages "${VESK1_BUILD_PACKAGES[@]}"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
bin="$PWD/build/release/bin"

work=$(mktemp -d "${TMPDIR:-/tmp}/vesk1-main-job.XXXXXX")
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp "$bin/vesk1_chzd.so" "$work/"
export TMPDIR="$work"   # the server's socket lives beside its working directory
instance=1

echo "=== vesk1_pipe $instance in $work"
(cd "$work" && exec "$bin/vesk1_pipe" "$instance" >"$work/server.log") &
server_pid=$!
for _ in $(seq 1 600); do
  grep -q "Waiting for connect" "$work/server.log" 2>/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.05
done

echo "=== vesk1_client: ten items, then the stop command"
"$bin/vesk1_client" "$instance" --items 1,2,3,4,5,6,7,8,9,10 --format float --stop

status=0
wait "$server_pid" || status=$?
server_pid=""
echo "=== server output (exit status $status; the stop command ends it with 1)"
cat "$work/server.log"
echo
[ "$status" -eq 1 ]
