#!/usr/bin/env bash
# From a fresh Debian machine to a migrated account set: installs the
# packages, builds the tool, the library libVelAccAP.so and the man page,
# writes a sample 8.12 account set and an empty 8.20 one, checks both,
# migrates the first into the second and prints the summary.
#   scripts/demo.sh [LINES]      (default 10000 invoice lines)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh" demo
# A fresh build folder is configured without the tests and the benchmarks,
# whose libraries the demonstration does not install; one the tests already
# use keeps its settings.
options=()
if [ ! -f "$build/CMakeCache.txt" ]; then options=(-DBUILD_TESTING=OFF -DVELACCAP_BENCH=OFF); fi
TARGETS="apupgrade VelAccAP apupgrade_man" "$root/scripts/build.sh" "$build" "${options[@]}"

demo="$build/demo"
mkdir -p "$demo"
rm -f "$demo/source.db" "$demo/target.db" "$demo/trace.txt"
tool="$build/apupgrade"
"$tool" sample "$demo/source.db" --lines "${1:-10000}"
"$tool" new-target "$demo/target.db"
"$tool" check "$demo/source.db" "$demo/target.db" | tail -n 1
"$tool" migrate "$demo/source.db" "$demo/target.db" --trace "$demo/trace.txt"
echo "Trace: $demo/trace.txt ($(wc -l < "$demo/trace.txt") operations)"
