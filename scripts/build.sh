#!/usr/bin/env bash
# Configures and builds the project (or only the targets named in TARGETS),
# warnings as errors: the project's own builds and CI keep the code clean of
# them, while a consumer building from source is not stopped by a newer
# compiler's new warning.
#   scripts/build.sh [BUILD_DIR] [cmake options...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
shift || true
generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S "$root" -B "$build" "${generator[@]}" -DVELACCAP_WERROR=ON "$@"
targets=()
for t in ${TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build" -j "${JOBS:-2}" "${targets[@]}"
