#!/usr/bin/env bash
# Inverts every EDI file of a folder with GNU parallel: K jobs at a time, each with its own
# vesk1_pipe pinned to its share of the processors and its own vesk1_client invert; per file a
# folder of results and plots, and one summary CSV over all files. See --help.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: invert-many.sh [options] DATA_DIR OUT_DIR [-- INVERT_OPTIONS...]
       invert-many.sh --one FILE OUT_DIR [SLOT JOBS] [-- INVERT_OPTIONS...]
       invert-many.sh --summary OUT_DIR
(installed as vesk1_invert_many)

Inverts every *.edi file of DATA_DIR (vesk1_client invert), K files at a time. Job slot s of K
runs its own vesk1_pipe (instance BASE + s, in a fresh working directory) pinned with taskset
to the s-th of K equal shares of the processors this script may use, and the client on the
same share. For each file FILE.edi, OUT_DIR/FILE/ receives model.txt (the recovered model, in
the --model format of vesk1_client sounding), fit.csv, fit.svg and invert.log (the progress
lines); OUT_DIR/summary.csv lists file, final RMS, iterations, seconds and status: ok,
target-not-reached (the inversion ended above its target RMS) or failed (exit N).

Options:
  -j, --jobs K         inversions at a time (default: half the processors, at least 1)
  --sshlogin LOGINS    spread the jobs over these machines (GNU parallel's --sshlogin, e.g.
                       ':,2/user@node1,2/user@node2'; ':' is this machine); files go out and
                       results come back with rsync over ssh, so this machine needs parallel,
                       rsync and ssh, and each other one rsync and vesk1 installed
                       (vesk1_invert_many on its PATH); DATA_DIR and OUT_DIR must be paths
                       relative to the current folder
  --instance-base N    instance numbers start after N (default 100)
  --one FILE OUT_DIR [SLOT JOBS]
                       invert one file only (what each job runs; a Slurm array task runs this
                       without SLOT and JOBS and leaves the pinning to Slurm)
  --summary OUT_DIR    only rebuild OUT_DIR/summary.csv from the per-file results
  -h, --help           print this text

Programs: vesk1_pipe and vesk1_client are taken from VESK1_BIN, else from this script's own
folder, else from PATH, else from build/release/bin of the source tree; vesk1_chzd and
vesk1_fdll from VESK1_MODULES, else lib/vesk1 beside that bin folder, else that bin folder.
Exit status: 0 when every file was inverted, 1 when any failed, 2 on a bad command line or a
missing program.
EOF
}

die() {
  echo "invert-many.sh: $*" >&2
  exit 2
}

script="$(readlink -f "${BASH_SOURCE[0]}")"
here="$(dirname "$script")"

find_programs() {
  local bin="${VESK1_BIN:-}"
  if [ -z "$bin" ]; then
    if [ -x "$here/vesk1_pipe" ]; then
      bin="$here"
    elif command -v vesk1_pipe >/dev/null 2>&1; then
      bin="$(dirname "$(command -v vesk1_pipe)")"
    else
      bin="$here/../build/release/bin"
    fi
  fi
  [ -x "$bin/vesk1_pipe" ] && [ -x "$bin/vesk1_client" ] ||
    die "no vesk1_pipe and vesk1_client in $bin (set VESK1_BIN)"
  local modules="${VESK1_MODULES:-}"
  if [ -z "$modules" ]; then
    if [ -e "$bin/../lib/vesk1/vesk1_chzd.so" ]; then
      modules="$bin/../lib/vesk1"
    else
      modules="$bin"
    fi
  fi
  [ -e "$modules/vesk1_chzd.so" ] && [ -e "$modules/vesk1_fdll.so" ] ||
    die "no vesk1_chzd.so and vesk1_fdll.so in $modules (set VESK1_MODULES)"
  pipe="$bin/vesk1_pipe"
  client="$bin/vesk1_client"
  module_dir="$modules"
}

# Prints the processors of a taskset-style list ("0-3,6"), one per line.
expand_cpu_list() {
  local part
  local IFS=,
  for part in $1; do
    if [[ "$part" == *-* ]]; then
      seq "${part%-*}" "${part#*-}"
    elif [ -n "$part" ]; then
      echo "$part"
    fi
  done
}

# Prints the processors (comma-separated) of share SLOT (1..JOBS) of the list ALLOWED. Shares
# are contiguous and differ by at most one processor; with more jobs than processors, jobs
# share processors in turn.
cpu_share() {
  local slot=$1 jobs=$2 allowed=$3
  local cpus=()
  mapfile -t cpus < <(expand_cpu_list "$allowed")
  local count=${#cpus[@]}
  [ "$count" -gt 0 ] && [ "$jobs" -gt 0 ] || return 1
  local s=$(((slot - 1) % jobs))
  if [ "$jobs" -ge "$count" ]; then
    echo "${cpus[$((s % count))]}"
    return 0
  fi
  local first=$((s * count / jobs)) end=$(((s + 1) * count / jobs))
  local out=() i
  for ((i = first; i < end; ++i)); do out+=("${cpus[$i]}"); done
  local IFS=,
  echo "${out[*]}"
}

# The processors this process may run on, as taskset lists them.
allowed_cpus() {
  taskset -cp $$ 2>/dev/null | sed -n 's/.*list: *//p'
}

# Prints the programs a run needs that this machine lacks, separated by blanks: GNU parallel,
# and with --sshlogin (SSHLOGIN not empty) also rsync and ssh.
missing_programs() {
  local needed=(parallel) program missing=()
  [ -n "$1" ] && needed+=(rsync ssh)
  for program in "${needed[@]}"; do
    command -v "$program" >/dev/null 2>&1 || missing+=("$program")
  done
  echo "${missing[*]}"
}

# Reads the output of vesk1_client invert on standard input and prints "<final RMS>,<iterations>":
# a progress line starts with its iteration number ("3", "iteration 3", "it=3", "step #3") and names
# its RMS ("RMS 1.02", "rms=1.02", "RMS: 1.02"); the final RMS is that of the last of them.
progress_summary() {
  awk '
    {
      line = tolower($0)
      progress = line ~ /^[ \t]*((it|iter|iteration|step)[ \t]*[:=#]?[ \t]*|#)?[0-9]+([ \t:.,)]|$)/
      named = match(line, /(^|[^a-z])rms[ \t]*[=:]?[ \t]*[-+]?[0-9][0-9.]*(e[-+]?[0-9]+)?/)
      if (progress && named) {
        value = substr(line, RSTART, RLENGTH)
        sub(/^.*rms[ \t]*[=:]?[ \t]*/, "", value)
        rms = value
        ++iterations
      }
    }
    END { if (iterations > 0) printf "%s,%d\n", rms, iterations; else print "," }'
}

# A CSV field: quoted when it holds a comma, a quote or a blank.
csv_field() {
  local text=$1
  if [[ "$text" == *[,\"\ ]* ]]; then
    text="\"${text//\"/\"\"}\""
  fi
  printf '%s' "$text"
}

# Inverts FILE into OUT_DIR/<name>/ with a server of its own; writes the folder's result.csv
# line. Returns the client's status.
invert_one() {
  [ $# -ge 2 ] || die "--one needs FILE and OUT_DIR"
  local file=$1 out=$2 slot="" jobs=""
  shift 2
  if [ $# -ge 2 ] && [ "$1" != "--" ]; then
    slot=$1 jobs=$2
    shift 2
  fi
  [ "${1:-}" = "--" ] && shift
  find_programs
  [ -r "$file" ] || die "cannot read $file"
  local name
  name="$(basename "$file")"
  name="${name%.*}"
  local dest="$out/$name"
  mkdir -p "$dest"

  local pin=()
  if [ -n "$slot" ] && [ -n "$jobs" ] && command -v taskset >/dev/null 2>&1; then
    local cpus
    if cpus="$(cpu_share "$slot" "$jobs" "$(allowed_cpus)")"; then
      pin=(taskset -c "$cpus")
      echo "$cpus" >"$dest/cpus"
    fi
  fi
  local instance=$((${VESK1_INSTANCE_BASE:-100} + ${slot:-${SLURM_ARRAY_TASK_ID:-0}}))

  # The server's worker directories and its socket live in a short private folder: socket
  # paths are limited to about 100 bytes, and no other job can be listening there.
  local work
  work="$(mktemp -d "${TMPDIR:-/tmp}/vesk1-inv.XXXXXX")"
  cp "$module_dir/vesk1_chzd.so" "$module_dir/vesk1_fdll.so" "$work/"
  local server_pid=""
  local started
  started=$(date +%s.%N)
  (cd "$work" && TMPDIR="$work" exec "${pin[@]}" "$pipe" "$instance" >"$work/server.log" 2>&1) &
  server_pid=$!
  local waited
  for waited in $(seq 1 1200); do
    grep -q "Waiting for connect" "$work/server.log" 2>/dev/null && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done

  local status=0
  # The client solves with the vesk1_fdll the server's module uses, wherever it is installed.
  TMPDIR="$work" "${pin[@]}" "$client" invert --data "$file" --fdll "$module_dir/vesk1_fdll.so" \
    --model-out "$dest/model.txt" --csv "$dest/fit.csv" --svg "$dest/fit.svg" "$@" "$instance" \
    >"$dest/invert.log" 2>&1 || status=$?
  local ended
  ended=$(date +%s.%N)

  # The server ends when its client goes away; one that does not is stopped.
  for waited in $(seq 1 100); do
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  cp "$work/server.log" "$dest/server.log"
  rm -rf "$work"

  local seconds state
  seconds=$(awk -v a="$started" -v b="$ended" 'BEGIN { printf "%.3f", b - a }')
  state=ok
  # The client ends with status 0 also when the target was not reached; its last line says so.
  grep -q '^did not reach the target' "$dest/invert.log" && state=target-not-reached
  [ "$status" -eq 0 ] || state="failed (exit $status)"
  {
    csv_field "$(basename "$file")"
    printf ',%s,%s,' "$(progress_summary <"$dest/invert.log")" "$seconds"
    csv_field "$state"
    printf '\n'
  } >"$dest/result.csv"
  [ "$status" -eq 0 ] || echo "invert-many.sh: $file: vesk1_client invert failed" \
    "(exit $status), see $dest/invert.log" >&2
  return "$status"
}

# Collects the per-file lines into OUT_DIR/summary.csv, files in name order.
write_summary() {
  local out=$1
  {
    echo "file,final_rms,iterations,seconds,status"
    find "$out" -mindepth 2 -maxdepth 2 -name result.csv -print0 | sort -z |
      xargs -0 -r cat
  } >"$out/summary.csv"
}

main() {
  local jobs="" sshlogin="" args=() passthrough=()
  while [ $# -gt 0 ]; do
    case "$1" in
      -h | --help) usage; exit 0 ;;
      -j | --jobs) [ $# -ge 2 ] || die "$1 needs a number"; jobs=$2; shift 2 ;;
      --sshlogin) [ $# -ge 2 ] || die "--sshlogin needs a list"; sshlogin=$2; shift 2 ;;
      --instance-base)
        [ $# -ge 2 ] || die "--instance-base needs a number"
        export VESK1_INSTANCE_BASE=$2
        shift 2
        ;;
      --one) shift; invert_one "$@"; exit $? ;;
      --summary) [ $# -eq 2 ] || die "--summary needs OUT_DIR"; write_summary "$2"; exit 0 ;;
      --) shift; passthrough=("$@"); break ;;
      -*) die "unknown option $1 (try --help)" ;;
      *) args+=("$1"); shift ;;
    esac
  done
  [ ${#args[@]} -eq 2 ] || die "give DATA_DIR and OUT_DIR (try --help)"
  local data=${args[0]} out=${args[1]}
  [ -d "$data" ] || die "$data is not a folder"
  if [ -z "$jobs" ]; then
    jobs=$(($(nproc) / 2))
    [ "$jobs" -ge 1 ] || jobs=1
  fi
  [[ "$jobs" =~ ^[1-9][0-9]*$ ]] || die "--jobs needs a positive number"
  [[ "${VESK1_INSTANCE_BASE:-100}" =~ ^[0-9]+$ ]] || die "--instance-base needs a number"
  local missing
  missing=$(missing_programs "$sshlogin")
  if [ -n "$missing" ]; then
    [ -n "$sshlogin" ] && die "--sshlogin needs parallel, rsync and ssh; missing here: $missing"
    die "GNU parallel is not installed"
  fi
  find_programs
  export VESK1_BIN="${VESK1_BIN:-$(dirname "$pipe")}" VESK1_MODULES="${VESK1_MODULES:-$module_dir}"

  local files=()
  mapfile -d '' -t files < <(find "$data" -maxdepth 1 -type f -iname '*.edi' -print0 | sort -z)
  [ ${#files[@]} -gt 0 ] || die "no .edi files in $data"
  mkdir -p "$out"
  find "$out" -mindepth 2 -maxdepth 2 -name result.csv -delete

  local remote=()
  local command="$script"
  if [ -n "$sshlogin" ]; then
    # Every machine runs its own installed copy (vesk1_invert_many on its PATH); each file is
    # sent to the machine that inverts it and its result folder comes back.
    remote=(--sshlogin "$sshlogin" --transferfile {} --return "$out/{/.}" --cleanup)
    command=vesk1_invert_many
  fi
  local status=0
  printf '%s\0' "${files[@]}" |
    parallel --null --quote --jobs "$jobs" "${remote[@]}" \
      "$command" --one {} "$out" {%} "$jobs" -- "${passthrough[@]}" || status=$?
  write_summary "$out"
  echo "summary: $out/summary.csv"
  [ "$status" -eq 0 ] || return 1
}

# Sourcing the script (as its tests do) defines the functions without running anything.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  main "$@"
fi
