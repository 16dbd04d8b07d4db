#!/usr/bin/env bash
# Tests of scripts/invert-many.sh. Usage: invert_many_test.sh CASE SCRIPT BIN_DIR
# BIN_DIR holds the built vesk1_pipe, vesk1_client, vesk1_chzd.so and vesk1_fdll.so. The runs
# use a stand-in vesk1_client whose invert command proves a server listens for it (by stopping
# it with the real client), prints progress lines and writes the output files.
set -euo pipefail
case_name=$1 script=$2 bin=$3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vesk1-invert-many-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0

expect() {  # expect NAME ACTUAL EXPECTED
  if [ "$2" != "$3" ]; then
    printf 'FAIL %s\n  actual:   %q\n  expected: %q\n' "$1" "$2" "$3" >&2
    failures=$((failures + 1))
  fi
}

# A bin folder with the real server and modules, a stand-in client and the script under its
# installed name. "fail" in a data file's name makes its inversion fail with status 5, "far"
# makes it end above its target RMS.
make_fake_bin() {
  local fake=$scratch/bin
  mkdir -p "$fake"
  ln -s "$bin/vesk1_pipe" "$bin/vesk1_chzd.so" "$bin/vesk1_fdll.so" "$fake/"
  ln -s "$script" "$fake/vesk1_invert_many"
  cat >"$fake/vesk1_client" <<FAKE
#!/usr/bin/env bash
set -eu
[ "\$1" = invert ] || exec "$bin/vesk1_client" "\$@"
shift
args=("\$@")
instance=\${args[\${#args[@]}-1]}
data="" model="" csv="" svg="" fdll=""
while [ \$# -gt 1 ]; do
  case "\$1" in
    --data) data=\$2; shift 2 ;;
    --model-out) model=\$2; shift 2 ;;
    --csv) csv=\$2; shift 2 ;;
    --svg) svg=\$2; shift 2 ;;
    --fdll) fdll=\$2; shift 2 ;;
    *) echo "extra \$1" >>"\$(dirname "\$model")/extra"; shift ;;
  esac
done
"$bin/vesk1_client" --stop "\$instance" >/dev/null
taskset -cp \$\$ | sed -n 's/.*list: *//p' >"\$(dirname "\$model")/client-cpus"
echo "\$instance" >"\$(dirname "\$model")/instance"
echo "\$fdll" >"\$(dirname "\$model")/fdll"
echo "\${SSH_CONNECTION:-}" >"\$(dirname "\$model")/via"
echo "starting from 100 ohm-m, target RMS 1"
echo "iteration 1: RMS 9.5, roughness 0.1, multiplier 10, 0.01 s"
echo "iteration 2: RMS 1.25, roughness 0.2, multiplier 1, 0.01 s"
case "\$data" in *fail*) exit 5 ;; esac
case "\$data" in *far*) echo "did not reach the target: RMS 1.2500 (target 1) after 2 iterations" ;; esac
echo "model of \$data" >"\$model"; : >"\$csv"; : >"\$svg"
FAKE
  chmod +x "$fake/vesk1_client"
  echo "$fake"
}

case "$case_name" in
  CpuShare)
    source "$script"
    # slot jobs allowed -> processors
    while read -r slot jobs allowed expected; do
      expect "cpu_share $slot $jobs $allowed" "$(cpu_share "$slot" "$jobs" "$allowed")" "$expected"
    done <<'TABLE'
1 1 0-3 0,1,2,3
1 2 0-3 0,1
2 2 0-3 2,3
1 3 0-7 0,1
2 3 0-7 2,3,4
3 3 0-7 5,6,7
3 2 0-3 0,1
1 2 0-1 0
2 2 0-1 1
3 4 0,2,4-5 4
3 2 0 0
TABLE
    expect "no processors" "$(cpu_share 1 2 "" || echo refused)" refused
    ;;
  ProgressSummary)
    source "$script"
    while IFS='|' read -r input expected; do
      expect "progress_summary $input" "$(printf '%b' "$input" | progress_summary)" "$expected"
    done <<'TABLE'
iteration 1: RMS 9.5, roughness 0.1\niteration 2: RMS 1.25, roughness 0.2\n|1.25,2
  1  rms=3.5e+01\n  2  rms=1.02e+00\n  3  rms=0.98\n|0.98,3
iter 4: RMS: 2 multiplier 3\n|2,1
it=1 rms 5\n#2 rms 4\n3) RMS 2.5e-1\n|2.5e-1,3
target RMS 1\nstarting from 100 ohm-m\n|,
layers 50, target RMS 1\n|,
1 terms 5\n|,
no output at all\n|,
TABLE
    ;;
  CsvField)
    source "$script"
    while IFS='|' read -r input expected; do
      expect "csv_field $input" "$(csv_field "$input")" "$expected"
    done <<'TABLE'
site1.edi|site1.edi
failed (exit 5)|"failed (exit 5)"
a,b.edi|"a,b.edi"
say "x".edi|"say ""x"".edi"
TABLE
    ;;
  TwoFilesTwoJobs)
    fake=$(make_fake_bin)
    mkdir -p "$scratch/data"
    echo a >"$scratch/data/site_b.edi"
    echo b >"$scratch/data/site_a.EDI"
    echo c >"$scratch/data/notes.txt"
    status=0
    VESK1_BIN=$fake bash "$script" -j 2 --instance-base 40 "$scratch/data" "$scratch/out" \
      -- --layers 30 >"$scratch/log" 2>&1 || status=$?
    expect "exit status" "$status" 0
    summary=$(sed -E 's/,[0-9]+\.[0-9]{3},/,T,/' "$scratch/out/summary.csv")
    expect "summary" "$summary" "$(printf '%s\n' 'file,final_rms,iterations,seconds,status' \
      'site_a.EDI,1.25,2,T,ok' 'site_b.edi,1.25,2,T,ok')"
    expect "model" "$(cat "$scratch/out/site_a/model.txt")" "model of $scratch/data/site_a.EDI"
    expect "passed options" "$(cat "$scratch/out/site_a/extra")" \
      "$(printf 'extra --layers\nextra 30')"
    expect "library to solve with" "$(cat "$scratch/out/site_a/fdll")" "$fake/vesk1_fdll.so"
    # Two servers, one per job slot, each pinned with its client to its own share.
    instances=$(cat "$scratch/out"/site_*/instance | sort | tr '\n' ' ')
    expect "instances" "$instances" "41 42 "
    source "$script"
    for site in site_a site_b; do
      expect "$site pinned" "$(expand_cpu_list "$(cat "$scratch/out/$site/client-cpus")")" \
        "$(expand_cpu_list "$(cat "$scratch/out/$site/cpus")")"
      grep -q "Connected" "$scratch/out/$site/server.log" ||
        expect "$site server log" "$(cat "$scratch/out/$site/server.log")" "a connection"
    done
    [ -e "$scratch/out/notes" ] && expect "only .edi files" "notes inverted" "not inverted"
    ;;
  FailedFile)
    fake=$(make_fake_bin)
    mkdir -p "$scratch/data"
    echo a >"$scratch/data/good.edi"
    echo b >"$scratch/data/fail.edi"
    echo c >"$scratch/data/far.edi"
    status=0
    VESK1_BIN=$fake bash "$script" -j 1 "$scratch/data" "$scratch/out" >"$scratch/log" 2>&1 ||
      status=$?
    expect "exit status" "$status" 1
    summary=$(sed -E 's/,[0-9]+\.[0-9]{3},/,T,/' "$scratch/out/summary.csv")
    expect "summary" "$summary" "$(printf '%s\n' 'file,final_rms,iterations,seconds,status' \
      'fail.edi,1.25,2,T,"failed (exit 5)"' 'far.edi,1.25,2,T,target-not-reached' \
      'good.edi,1.25,2,T,ok')"
    ;;
  MissingPrograms)
    source "$script"
    # programs on PATH | --sshlogin | what is missing
    while IFS='|' read -r present login expected; do
      rm -rf "$scratch/path" && mkdir -p "$scratch/path"
      for program in $present; do ln -s /bin/true "$scratch/path/$program"; done
      expect "missing with $present, login '$login'" \
        "$(PATH=$scratch/path missing_programs "$login")" "$expected"
    done <<'TABLE'
parallel rsync ssh|node1|
ssh parallel|:,2/node1|rsync
rsync ssh||parallel
TABLE
    ;;
  SshLogin)
    # Another machine over ssh: an sshd of this test's own on 127.0.0.1 (a high port, keys made
    # here, no password), whose sessions run in a scratch folder with the stand-in bin folder
    # first on their PATH.
    sshd=$(command -v sshd || echo /usr/sbin/sshd)
    for program in "$sshd" ssh ssh-keygen rsync parallel; do
      command -v "$program" >/dev/null || {
        echo "SKIP: no $program here (openssh-server, rsync and parallel are needed)"
        exit 77
      }
    done
    # Run by root, sshd insists on the folder its package makes when its service starts.
    [ "$(id -u)" -ne 0 ] || mkdir -p -m 0755 /run/sshd
    fake=$(make_fake_bin) keys=$scratch/ssh remote=$scratch/remote sshd_pid=""
    mkdir -p "$keys" "$remote" "$scratch/home" "$scratch/data"
    ssh-keygen -q -t ed25519 -N '' -f "$keys/host" && ssh-keygen -q -t ed25519 -N '' -f "$keys/id"
    trap '[ -z "$sshd_pid" ] || kill "$sshd_pid"; rm -rf "$scratch"' EXIT
    for attempt in 1 2 3 4 5; do # sshd ends at once on a port another program holds
      port=$((20000 + RANDOM % 40000))
      "$sshd" -D -e -f /dev/null -h "$keys/host" -p "$port" -o ListenAddress=127.0.0.1 \
        -o PidFile="$keys/pid" -o AuthorizedKeysFile="$keys/id.pub" -o StrictModes=no \
        -o PasswordAuthentication=no -o "SetEnv=PATH=$fake:/usr/bin:/bin HOME=$remote" \
        -o "ForceCommand=cd $remote && eval \"\$SSH_ORIGINAL_COMMAND\"" 2>"$keys/log" &
      sshd_pid=$!
      export PARALLEL_SSH="ssh -p $port -i $keys/id -o IdentitiesOnly=yes -o BatchMode=yes"
      PARALLEL_SSH+=" -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR"
      for _ in $(seq 1 50); do
        $PARALLEL_SSH 127.0.0.1 true 2>/dev/null && break 2
        kill -0 "$sshd_pid" 2>/dev/null || break
        sleep 0.1
      done
      kill "$sshd_pid" 2>/dev/null
      wait "$sshd_pid" 2>/dev/null
      sshd_pid=""
    done
    [ -n "$sshd_pid" ] || { echo "SKIP: sshd cannot run here: $(tail -n 2 "$keys/log")"; exit 77; }
    echo a >"$scratch/data/site_a.edi"
    echo b >"$scratch/data/site_b.edi"
    status=0
    (cd "$scratch" && HOME=$scratch/home VESK1_BIN=$fake bash "$script" -j 2 \
      --sshlogin 2/127.0.0.1 data out) >"$scratch/log" 2>&1 || status=$?
    expect "exit status" "$status" 0
    summary=$(sed -E 's/,[0-9]+\.[0-9]{3},/,T,/' "$scratch/out/summary.csv")
    expect "summary" "$summary" "$(printf '%s\n' 'file,final_rms,iterations,seconds,status' \
      'site_a.edi,1.25,2,T,ok' 'site_b.edi,1.25,2,T,ok')"
    for site in site_a site_b; do
      expect "$site model" "$(cat "$scratch/out/$site/model.txt")" "model of data/$site.edi"
      expect "$site inverted over ssh" "$(cut -d' ' -f3 "$scratch/out/$site/via")" 127.0.0.1
    done
    # The files sent are removed from the remote side once their results have come back.
    expect "sent files left there" "$(cd "$remote" && find . -name '*.edi')" ""
    [ "$failures" -eq 0 ] || cat "$scratch/log" >&2
    ;;
  BadCommandLine)
    mkdir -p "$scratch/empty"
    while IFS='|' read -r args expected; do
      status=0
      # shellcheck disable=SC2086
      VESK1_BIN=$bin bash "$script" $args >/dev/null 2>"$scratch/err" || status=$?
      expect "invert-many.sh $args: status" "$status" 2
      expect "invert-many.sh $args: message" "$(head -n 1 "$scratch/err")" "$expected"
    done <<TABLE
$scratch/empty|invert-many.sh: give DATA_DIR and OUT_DIR (try --help)
-j 0 $scratch/empty $scratch/out|invert-many.sh: --jobs needs a positive number
--frobnicate|invert-many.sh: unknown option --frobnicate (try --help)
$scratch/missing $scratch/out|invert-many.sh: $scratch/missing is not a folder
$scratch/empty $scratch/out|invert-many.sh: no .edi files in $scratch/empty
TABLE
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
[ "$failures" -eq 0 ] || exit 1
echo "ok $case_name"
