#!/usr/bin/env bash
# Checks what a user of an installed vesk1 gets, from a build that scripts/test.sh has made:
#   install-check.sh release   cmake --install into a scratch prefix (layout, no paths of this
#                              machine inside), moved elsewhere; the module example built out
#                              of tree, served by the installed server and asked by the
#                              installed client; the library example built with the CMake
#                              package and with pkg-config, and run; the .deb holding exactly
#                              what the install holds; the installed server started in an empty
#                              folder and the installed client's invert against it; the
#                              many-soundings script on two EDI files.
#   install-check.sh win64     the same for the Windows build: its install, the .zip holding
#                              exactly what it holds, and both examples cross-built against it
#                              and run under wine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source=$PWD
preset=${1:-release}
build=$source/build/$preset
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vesk1-install-check.XXXXXX")
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "install-check: $*" >&2
  exit 1
}

# same NAME ACTUAL EXPECTED: fails with both texts when they differ.
same() {
  [ "$2" = "$3" ] && return 0
  diff <(printf '%s\n' "$3") <(printf '%s\n' "$2") >&2 || true
  fail "$1: differs from what was expected (lines with > are what came)"
}

files_under() { (cd "$1" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort); }

# What the library example prints, on every system.
solve_output='rcond = 0.0153
x = 1.000000 2.000000 3.000000'

# The installed files: those of every system, then those of each.
common_layout='include/vesk1/fdll.h
include/vesk1/module.h
lib/cmake/vesk1/vesk1Config.cmake
lib/cmake/vesk1/vesk1ConfigVersion.cmake
lib/cmake/vesk1/vesk1Targets-release.cmake
lib/cmake/vesk1/vesk1Targets.cmake
lib/pkgconfig/vesk1-module.pc
lib/pkgconfig/vesk1.pc
share/doc/vesk1/LICENSE
share/doc/vesk1/README.md'
layout_with() { printf '%s\n' "$common_layout" "$@" | LC_ALL=C sort; }
linux_layout=$(layout_with bin/vesk1_client bin/vesk1_invert_many bin/vesk1_pipe \
  lib/vesk1/vesk1_chzd.so lib/vesk1/vesk1_fdll.so)
windows_layout=$(layout_with bin/vesk1_chzd.dll bin/vesk1_client.exe bin/vesk1_fdll.dll \
  bin/vesk1_pipe.exe lib/libvesk1_fdll.dll.a)

# How this build's programs run and how examples are built against its install: natively, or
# cross-compiled with the build's toolchain and run under wine (whose toolchain looks for
# packages inside the cross compiler's root only, so the package's folder is named directly).
if [ "$preset" = win64 ]; then
  run=("$build/wine-run.sh")
  exe=.exe
  cc=x86_64-w64-mingw32-gcc-posix
  module_file=vesk1_chzd.dll
else
  run=()
  exe=""
  cc=${CC:-cc}
  module_file=vesk1_chzd.so
fi
configure_example() {  # configure_example EXAMPLE BUILD_DIR PREFIX
  local find=(-DCMAKE_PREFIX_PATH="$3")
  [ "$preset" = win64 ] &&
    find=(-DCMAKE_TOOLCHAIN_FILE="$source/cmake/toolchains/x86_64-w64-mingw32.cmake"
      -Dvesk1_DIR="$3/lib/cmake/vesk1")
  cmake -S "$source/examples/$1" -B "$2" -G Ninja "${find[@]}" >/dev/null
  cmake --build "$2" >/dev/null
}

# Installs the build into $scratch/install, checks its layout and that no text file names this
# machine's build or install folders, then moves it: whatever follows uses the moved copy.
install_and_move() {
  local layout=$1
  echo "=== install ($preset): cmake --install into a scratch prefix"
  # The .deb's files are stripped; the .zip's are not (stripping stamps a Windows file with
  # the time of day), so the install strips as its package does.
  local strip=()
  [ "$preset" = release ] && strip=(--strip)
  cmake --install "$build" --prefix "$scratch/install" "${strip[@]}" >/dev/null
  same "installed files" "$(files_under "$scratch/install")" "$layout"
  local leaks
  leaks=$(grep -rIl -e "$source" -e "$scratch" "$scratch/install" || true)
  [ -z "$leaks" ] || fail "paths of this machine inside: $leaks"
  mv "$scratch/install" "$scratch/moved"
  prefix=$scratch/moved
}

# Starts PREFIX's server with instance N in the fresh folder DIR (which holds the module);
# returns once it waits for its client.
serve() {
  local dir=$1 instance=$2
  (cd "$dir" && TMPDIR="$dir" exec "${run[@]}" "$prefix/bin/vesk1_pipe$exe" "$instance" \
    >server.log 2>&1) &
  server_pid=$!
  for _ in $(seq 1 600); do
    grep -q "Waiting for connect" "$dir/server.log" 2>/dev/null && return 0
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  fail "vesk1_pipe did not start: $(cat "$dir/server.log")"
}

# The stop command ends the server with status 1.
wait_server_stopped() {
  local status=0
  wait "$server_pid" || status=$?
  server_pid=""
  [ "$status" -eq 1 ] || fail "vesk1_pipe ended with status $status"
}

check_module_example() {
  echo "=== module example: built against the install, served by the installed server"
  configure_example module "$scratch/module" "$prefix"
  local work=$scratch/module-work
  mkdir -p "$work"
  cp "$scratch/module/$module_file" "$work/"
  serve "$work" 5
  local reply
  reply=$(TMPDIR="$work" "${run[@]}" "$prefix/bin/vesk1_client$exe" --items 1,2,-3.5 \
    --format double --stop 5 | tr -d '\r')
  wait_server_stopped
  same "reply of the example module" "$(grep -v '^elapsed' <<<"$reply")" '0: 1
1: 4
2: 12.25
stopped'
  [ "$preset" = win64 ] && return 0

  # Module authors with pkg-config need only the header's folder.
  "$cc" -std=c11 -Wall -Wextra -Werror -shared -fPIC -fvisibility=hidden \
    $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags vesk1-module) \
    -o "$scratch/module/pc_vesk1_chzd.so" "$source/examples/module/square.c"
  same "entries of the module built with pkg-config" \
    "$(nm -D --defined-only "$scratch/module/pc_vesk1_chzd.so" | awk '{print $3}' | sort)" \
    "$(printf 'CHZD\nCLOADFCHZD')"
}

# The package answers for its own version only: a request for a later one fails.
check_versions() {
  echo "=== versions: CMake package and pkg-config"
  local version
  version=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --modversion vesk1)
  same "pkg-config version of vesk1-module" \
    "$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --modversion vesk1-module)" "$version"
  mkdir -p "$scratch/version"
  printf '%s\n' 'cmake_minimum_required(VERSION 3.20)' 'project(v LANGUAGES NONE)' \
    'find_package(vesk1 ${wanted} CONFIG REQUIRED)' >"$scratch/version/CMakeLists.txt"
  cmake -S "$scratch/version" -B "$scratch/version/same" -Dwanted="$version" \
    -DCMAKE_PREFIX_PATH="$prefix" >/dev/null || fail "find_package(vesk1 $version) failed"
  if cmake -S "$scratch/version" -B "$scratch/version/later" -Dwanted=99.0 \
    -DCMAKE_PREFIX_PATH="$prefix" >/dev/null 2>&1; then
    fail "find_package(vesk1 99.0) found version $version"
  fi
}

# Builds the library example with the CMake package and with pkg-config against PREFIX and
# runs both.
check_library_example() {
  local against=$1 label=$2
  local dir=$scratch/library-$label
  echo "=== library example: CMake package and pkg-config ($label)"
  configure_example library "$dir" "$against"
  # A Windows program finds its DLLs beside it.
  [ "$preset" = win64 ] && cp "$against/bin/vesk1_fdll.dll" "$dir/"
  same "solve built with the CMake package" "$("${run[@]}" "$dir/solve$exe" | tr -d '\r')" \
    "$solve_output"
  "$cc" -std=c11 -Wall -Wextra -Werror -o "$dir/pc_solve$exe" "$source/examples/library/main.c" \
    $(PKG_CONFIG_PATH="$against/lib/pkgconfig" pkg-config --cflags --libs vesk1)
  same "solve built with pkg-config" "$("${run[@]}" "$dir/pc_solve$exe" | tr -d '\r')" \
    "$solve_output"
}

check_deb() {
  echo "=== .deb: holds what the install holds"
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/deb" >"$scratch/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$scratch/cpack.log")"
  local debs=("$scratch"/deb/vesk1_*.deb)
  [ -f "${debs[0]}" ] || fail "cpack made no .deb"
  dpkg-deb -x "${debs[0]}" "$scratch/deb/root"
  same "files of the .deb outside /usr" \
    "$(cd "$scratch/deb/root" && find . -type f -not -path './usr/*')" ""
  same "files of the .deb" "$(files_under "$scratch/deb/root/usr")" \
    "$(files_under "$prefix")"
  diff -r "$prefix" "$scratch/deb/root/usr" >&2 || fail "the .deb's files differ from the install's"
  same "package name" "$(dpkg-deb -f "${debs[0]}" Package)" vesk1
  dpkg-deb -f "${debs[0]}" Depends | grep -q 'libc6' || fail "the .deb declares no libc6"
  same "what the .deb suggests" "$(dpkg-deb -f "${debs[0]}" Suggests)" "parallel, rsync"
  # The unpacked package is an install of its own: the library example builds against it.
  check_library_example "$scratch/deb/root/usr" deb
}

# A sounding in EDI form, made from a layered earth by the installed tools: impedance in field
# units from apparent resistivity and phase (rho = 0.2 T |Z|^2), Zyx = -Zxy, Zxx = Zyy = 0.
make_edi() {
  local model=$1 out=$2 instance=$3
  local work=$scratch/edi-$instance
  mkdir -p "$work"
  cp "$prefix/lib/vesk1/vesk1_chzd.so" "$prefix/lib/vesk1/vesk1_fdll.so" "$work/"
  serve "$work" "$instance"
  TMPDIR="$work" "$prefix/bin/vesk1_client" sounding --model "$model" --range 0.001 1000 20 \
    --csv "$work/curve.csv" --stop "$instance" >/dev/null 2>&1
  wait_server_stopped
  awk -F, -v site="$(basename "$out" .edi)" '
    NR == 1 { next }
    { n++; f[n] = 1 / $1; a = sqrt($2 / (0.2 * $1)); p = $3 * atan2(0, -1) / 180
      re[n] = a * cos(p); im[n] = a * sin(p); v[n] = (0.05 * a) ^ 2 }
    function value(kind, sign, k) {
      if (kind == "f") return f[k]
      if (kind == "v") return v[k]
      if (kind == "r") return sign * re[k]
      if (kind == "i") return sign * im[k]
      return 0
    }
    function block(name, sign, kind,   k) {
      printf ">%s ROT=NONE //%d\n", name, n
      for (k = 1; k <= n; k++)
        printf " %.6E%s", value(kind, sign, k), (k % 5 == 0 || k == n) ? "\n" : ""
    }
    END {
      printf ">HEAD\n  DATAID=\"%s\"\n  EMPTY=1.0E32\n>INFO\n>=DEFINEMEAS\n  MAXCHAN=0\n", site
      printf ">=MTSECT\n  SECTID=\"%s\"\n  NFREQ=%d\n", site, n
      block("FREQ", 1, "f")
      block("ZXXR", 1, "0"); block("ZXXI", 1, "0"); block("ZXX.VAR", 1, "v")
      block("ZXYR", 1, "r"); block("ZXYI", 1, "i"); block("ZXY.VAR", 1, "v")
      block("ZYXR", -1, "r"); block("ZYXI", -1, "i"); block("ZYX.VAR", 1, "v")
      block("ZYYR", 1, "0"); block("ZYYI", 1, "0"); block("ZYY.VAR", 1, "v")
      print ">END"
    }' "$work/curve.csv" >"$out"
}

check_invert_many() {
  if ! "$prefix/bin/vesk1_client" invert --help >/dev/null 2>&1; then
    echo "=== many soundings: skipped (this vesk1_client has no invert command)"
    return 0
  fi
  echo "=== many soundings: two EDI files, two jobs, two servers, one summary"
  mkdir -p "$scratch/soundings"
  make_edi "$source/examples/three_layer_earth.txt" "$scratch/soundings/site1.edi" 11
  cp "$source/examples/measured_site.edi" "$scratch/soundings/site2.edi"
  # The installed server started in an empty folder takes its modules from the install and
  # says so; the installed client run by hand through PATH, from a folder without the library,
  # finds the installed vesk1_fdll by itself.
  local work=$scratch/invert-by-hand
  mkdir -p "$work"
  serve "$work" 12
  grep -qF "new worker directories get theirs from $(readlink -f "$prefix/lib/vesk1")/." \
    "$work/server.log" || fail "the installed server did not say where its modules came from:
$(cat "$work/server.log")"
  (cd "$scratch" && TMPDIR="$work" PATH="$prefix/bin:$PATH" vesk1_client invert \
    --data "$scratch/soundings/site1.edi" --max-iterations 1 --stop 12 >"$work/invert.log" 2>&1) ||
    fail "the installed client could not invert by itself: $(cat "$work/invert.log")"
  wait_server_stopped
  PATH="$prefix/bin:$PATH" vesk1_invert_many -j 2 "$scratch/soundings" "$scratch/inverted"
  local summary=$scratch/inverted/summary.csv
  cat "$summary"
  same "summary columns" "$(head -n 1 "$summary")" "file,final_rms,iterations,seconds,status"
  same "summary files" "$(tail -n +2 "$summary" | cut -d, -f1,5)" "site1.edi,ok
site2.edi,ok"
  awk -F, 'NR > 1 && !($2 > 0 && $3 > 0 && $4 > 0) { exit 1 }' "$summary" ||
    fail "a summary line lacks its RMS, iterations or time"
  local site
  for site in site1 site2; do
    for f in model.txt fit.csv fit.svg; do
      [ -s "$scratch/inverted/$site/$f" ] || fail "no $site/$f"
    done
  done
}

check_windows() {
  echo "=== .zip: holds what the install holds"
  cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$scratch/zip" >"$scratch/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$scratch/cpack.log")"
  local zips=("$scratch"/zip/vesk1-*-win64.zip)
  [ -f "${zips[0]}" ] || fail "cpack made no .zip"
  same "files of the .zip" \
    "$(unzip -Z1 "${zips[0]}" | grep -v '/$' | sed 's|^[^/]*/||' | LC_ALL=C sort)" \
    "$(files_under "$prefix")"
  mkdir -p "$scratch/zip/root"
  (cd "$scratch/zip/root" && unzip -q "${zips[0]}")
  diff -r "$prefix" "$scratch/zip/root"/vesk1-*-win64 >&2 ||
    fail "the .zip's files differ from the install's"

}

[ -n "${VESK1_INSTALL_CHECK_SOURCED:-}" ] && return 0
case "$preset" in
  release)
    install_and_move "$linux_layout"
    check_versions
    check_module_example
    check_library_example "$prefix" install
    check_deb
    check_invert_many
    ;;
  win64)
    install_and_move "$windows_layout"
    check_windows
    check_module_example
    check_library_example "$prefix" install
    ;;
  *)
    fail "usage: install-check.sh release|win64"
    ;;
esac
echo "=== install ($preset): all checks passed"
