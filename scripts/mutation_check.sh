#!/usr/bin/env bash
# Flips, one at a time, the conditions listed in scripts/mutations.txt (or
# FILE), rebuilds and runs the suite until its first failure: a mutant the
# suite does not catch is a fault the tests would let through. The source is
# restored after each mutant, also when the script is stopped.
#   scripts/mutation_check.sh [BUILD_DIR] [FILE]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
list="${2:-$root/scripts/mutations.txt}"
cd "$root"

current=""
restore() { if [ -n "$current" ]; then cp "$current.mutation-orig" "$current" && rm "$current.mutation-orig"; fi; }
trap restore EXIT

# Tests that measure time or race a signal could fail on a loaded machine
# and pass a mutant off as caught; they are left out.
timed='Floor|Valgrind|Interrupt|Locks\.|LargeRun|Killed'
caught=0
missed=0
while IFS=$'\t' read -r file text mutant; do
  case "$file" in ''|'#'*) continue ;; esac
  count=$(grep -cF -- "$text" "$file" || true)
  if [ "$count" != 1 ]; then
    echo "mutation list out of date: '$text' stands $count times in $file" >&2
    exit 2
  fi
  cp "$file" "$file.mutation-orig"
  current="$file"
  TEXT="$text" MUTANT="$mutant" python3 -c '
import os, sys
p = sys.argv[1]; s = open(p).read()
open(p, "w").write(s.replace(os.environ["TEXT"], os.environ["MUTANT"], 1))' "$file"
  if ! cmake --build "$build" -j "${JOBS:-2}" >/dev/null 2>&1; then
    result="caught (does not build)"
    caught=$((caught + 1))
  elif ctest --test-dir "$build" -j "${JOBS:-2}" --stop-on-failure -E "$timed" >"$build/mutant.log" 2>&1; then
    result="MISSED"
    missed=$((missed + 1))
  else
    result="caught by $(grep -m1 -E '\*\*\*(Failed|Exception|Timeout)' "$build/mutant.log" | sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/')"
    caught=$((caught + 1))
  fi
  restore
  current=""
  echo "$file: '$text' -> '$mutant': $result"
done <"$list"
cmake --build "$build" -j "${JOBS:-2}" >/dev/null
echo "$caught caught, $missed missed"
[ "$missed" = 0 ]
