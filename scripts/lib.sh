# Shared by the set-up scripts: installs the Debian packages that are missing.
# Runs apt-get directly as root, through sudo otherwise.

vesk1_install_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo="sudo"
    else
      echo "vesk1: need root or sudo to install: ${missing[*]}" >&2
      return 1
    fi
  fi
  echo "vesk1: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# What every build needs: compiler, CMake, Ninja, GoogleTest, Google Benchmark and the LAPACK
# builds the benchmarks compare against; pkg-config and dpkg-dev for the install checks and
# the .deb, GNU parallel for inverting many soundings (util-linux brings taskset), rsync and
# openssh-server for its test over ssh, which starts an sshd of its own, and Python for the
# mutation run over the readers' input.
VESK1_BUILD_PACKAGES=(g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev
  liblapack-dev libopenblas-dev util-linux pkg-config dpkg-dev parallel rsync openssh-server
  python3)

# What the Windows builds need: the mingw-w64 cross compilers (posix thread model) and their
# binutils, GoogleTest's sources to build it for the target, wine to run the 64-bit tests, and
# unzip to check the .zip package.
VESK1_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 googletest wine wine64 unzip)
