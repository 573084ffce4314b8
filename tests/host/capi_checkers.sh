#!/usr/bin/env bash
# The C host of the library under valgrind's memory checker and under
# helgrind: any error found fails (exit 99).
#   capi_checkers.sh TOOL HOST
set -euo pipefail
tool="$1" host="$2"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
"$tool" sample "$dir/s.db" --lines 100 -q
for checker in "--tool=memcheck --leak-check=full --errors-for-leak-kinds=definite" "--tool=helgrind"; do
  rm -f "$dir/t.db"
  "$tool" new-target "$dir/t.db" -q
  # shellcheck disable=SC2086
  valgrind $checker --error-exitcode=99 --quiet "$host" "$dir/s.db" "$dir/t.db"
done
