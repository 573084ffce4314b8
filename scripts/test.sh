#!/usr/bin/env bash
# Installs the packages, builds everything and runs the tests (the Debian
# packages' lintian check among them).
#   scripts/test.sh [BUILD_DIR] [cmake options...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-${BUILD_DIR:-$root/build}}"
shift || true
"$root/scripts/setup.sh" test
"$root/scripts/build.sh" "$build" -DBUILD_TESTING=ON "$@"
ctest --test-dir "$build" --output-on-failure -j "${JOBS:-2}"
