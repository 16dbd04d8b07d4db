#!/usr/bin/env bash
# scripts/check-includes.sh on a small tree of its own: an include that runs the allowed way
# passes, one that crosses a room's rule fails and is named with its file and line.
#   check_includes_test.sh CHECKER
set -euo pipefail
checker=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/mt" "$tree/client"
printf '#include <vector>\n' > "$tree/mt/a.h"
printf '#include "mt/a.h"\n' > "$tree/client/b.h"
bash "$checker" "$tree" >/dev/null
printf '#include <vector>\n#include "client/b.h"\n' > "$tree/mt/a.h"
if errors=$(bash "$checker" "$tree" 2>&1); then
  echo "FAIL: mt/ including client/ passed" >&2
  exit 1
fi
grep -qF 'mt/a.h:2: includes client/b.h, but mt/ may not include client/' <<<"$errors" || {
  echo "FAIL: the crossing was not named: $errors" >&2
  exit 1
}
echo "ok"
