#!/usr/bin/env bash
# Installs the packages, builds everything and runs the tests.
#   scripts/test.sh [BUILD_DIR] [cmake options...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-${BUILD_DIR:-$root/build}}"
shift || true
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$build" "$@"
ctest --test-dir "$build" --output-on-failure -j "${JOBS:-2}"
