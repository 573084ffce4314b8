#!/usr/bin/env bash
# Installs the packages, builds everything and runs the tests (the Debian
# packages' lintian check among them).
#   scripts/test.sh [BUILD_DIR] [cmake options...]
# CTEST_EXCLUDE: a regular expression of tests to leave out.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-${BUILD_DIR:-$root/build}}"
shift || true
"$root/scripts/setup.sh" test
"$root/scripts/build.sh" "$build" -DBUILD_TESTING=ON "$@"
exclude=()
if [ -n "${CTEST_EXCLUDE:-}" ]; then exclude=(-E "$CTEST_EXCLUDE"); fi
ctest --test-dir "$build" --output-on-failure -j "${JOBS:-2}" "${exclude[@]}"
