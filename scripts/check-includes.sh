#!/usr/bin/env bash
# Checks that every #include of the source tree runs in a direction its room allows, so the
# layout the README describes stays true:
#   include/vesk1/  only itself (the public headers)
#   library/        itself and include/vesk1/fdll.h
#   common/         itself and include/
#   server/         itself, include/ and common/
#   modules/        itself, include/ and common/
#   mt/             itself and the standard library only: no pipes, no OS headers
#   client/         itself, mt/, common/ and include/
# tests/, bench/ and examples/ may include anything.
#
# A quoted include is found as the compiler finds it: beside the including file, in its room's
# folder, in include/, or from the root of the tree; the room of the file found is what counts.
# An angle-bracket include is a system header unless include/ holds it. In mt/ a system header
# must be one of the C++ standard library's (<vector>, <cmath>: no ".h", no folder).
#
#   bash scripts/check-includes.sh [ROOT]     (ROOT: the tree to check, this one by default)
# Prints each crossing as "FILE:LINE: ..." and exits 1 when there is one.
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
cd "$root"

# The rooms a room may include, besides itself.
declare -A allowed=(
  [include]=""
  [library]="include"
  [common]="include"
  [server]="include common"
  [modules]="include common"
  [mt]=""
  [client]="mt common include"
)
# What library/ may take from include/: the library's own entry points, nothing else.
library_public_header="include/vesk1/fdll.h"

# The room of a path relative to the root: its first folder.
room_of() {
  echo "${1%%/*}"
}

# Where a quoted include of `file` resolves, relative to the root; empty when nowhere.
resolve() {
  local file=$1 name=$2 room candidate
  room=$(room_of "$file")
  for candidate in "$(dirname "$file")/$name" "$room/$name" "include/$name" "$name"; do
    if [ -f "$candidate" ]; then
      realpath -m --relative-to="$root" "$candidate"
      return
    fi
  done
}

failures=0
fail() {
  echo "$1" >&2
  failures=$((failures + 1))
}

while IFS= read -r file; do
  room=$(room_of "$file")
  [ -n "${allowed[$room]+set}" ] || continue
  while IFS= read -r hit; do
    line=${hit%%:*}
    text=${hit#*:}
    if [[ $text =~ \#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      name=${BASH_REMATCH[1]}
      target=$(resolve "$file" "$name")
      if [ -z "$target" ]; then
        fail "$file:$line: \"$name\" is not a file of this tree"
        continue
      fi
    elif [[ $text =~ \#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
      name=${BASH_REMATCH[1]}
      if [ -f "include/$name" ]; then
        target="include/$name"
      else
        if [ "$room" = mt ] && [[ $name == */* || $name == *.* ]]; then
          fail "$file:$line: <$name> is not a standard C++ header; mt/ uses no OS headers"
        fi
        continue
      fi
    else
      continue
    fi
    to=$(room_of "$target")
    [ "$to" = "$room" ] && continue
    if [ "$room" = library ] && [ "$target" != "$library_public_header" ]; then
      fail "$file:$line: includes $target; library/ may take only $library_public_header"
      continue
    fi
    if [[ " ${allowed[$room]} " != *" $to "* ]]; then
      fail "$file:$line: includes $target, but $room/ may not include $to/"
    fi
  done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(find include library common server modules mt client -type f \
           \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cpp' \) 2>/dev/null | sort)

if [ "$failures" -gt 0 ]; then
  echo "check-includes: $failures include(s) cross the layout's rules" >&2
  exit 1
fi
echo "check-includes: every include runs in an allowed direction"
