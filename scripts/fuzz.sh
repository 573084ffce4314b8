#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in a build of their own and runs
# each for SECONDS (default 20). Corpora grow in the build folder, seeded
# from fuzz/seeds, the Access files among the fixtures, and the inputs that
# once failed (fuzz/regressions); fuzz/<target>.dict, when there is one,
# gives the target's words. Exits nonzero when any target fails; the
# failing input is left in <build>/artifacts/<target>/.
#   scripts/fuzz.sh [SECONDS]      FUZZ_BUILD_DIR (default build-fuzz), JOBS
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${1:-20}"
fixtures="$root/../shared/fixtures"
fuzzers=(mdb_source_fuzzer statement_shape_fuzzer delete_statement_fuzzer connection_string_fuzzer)

"$root/scripts/setup.sh"
# Only the fuzzers and the libraries they link: the rest of the project is
# built and tested by scripts/test.sh.
CC="${CC:-clang}" CXX="${CXX:-clang++}" TARGETS="${fuzzers[*]}" \
  "$root/scripts/build.sh" "$build" -DVELACCAP_FUZZ=ON

failed=()
for f in "${fuzzers[@]}"; do
  corpus="$build/corpus/$f"
  artifacts="$build/artifacts/$f"
  mkdir -p "$corpus" "$artifacts"
  seeds=()
  for d in "$root/fuzz/seeds/$f" "$root/fuzz/regressions/$f"; do
    if [ -d "$d" ]; then seeds+=("$d"); fi
  done
  options=()
  if [ -f "$root/fuzz/$f.dict" ]; then options+=(-dict="$root/fuzz/$f.dict"); fi
  if [ "$f" = mdb_source_fuzzer ]; then
    # Copies, not links: the fixtures stay read-only and outside the project.
    for s in "$fixtures"/mdb/*.mdb "$fixtures"/mdb/*.accdb "$fixtures"/damaged/duplicate-column.mdb; do
      if [ -f "$s" ] && [ ! -f "$corpus/seed-$(basename "$s")" ]; then cp "$s" "$corpus/seed-$(basename "$s")"; fi
    done
  fi
  echo "== $f: ${seconds}s"
  if ! "$build/fuzz/$f" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      "${options[@]}" -artifact_prefix="$artifacts/" "$corpus" "${seeds[@]}" >"$build/$f.log" 2>&1; then
    failed+=("$f")
    tail -n 60 "$build/$f.log"
    echo "== $f FAILED; input in $artifacts/, log in $build/$f.log"
  else
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$build/$f.log" || true
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "Failed: ${failed[*]}"
  exit 1
fi
echo "All fuzzers ran ${seconds}s without a failure."
