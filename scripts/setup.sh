#!/usr/bin/env bash
# Installs the Debian packages the project needs: with `demo`, only what
# building the tool, the library and the man page takes; with `package`,
# also lintian to check the Debian packages; with `test` (the default), also
# what the tests, the benchmarks and the fuzzers use. Skips apt entirely when
# every package is already there.
#   scripts/setup.sh [demo|package|test]
set -euo pipefail

# Building apupgrade, libVelAccAP and the man page (dpkg-dev: the Debian
# packages and their hardening flags).
build=(build-essential cmake ninja-build pkg-config libsqlite3-dev unixodbc-dev
       mdbtools-dev libcli11-dev nlohmann-json3-dev libcsv-dev libfmt-dev dpkg-dev)
# The Debian packages' check, and man to read the page as lintian does.
package=(lintian man-db)
# The tests (the engines' tools and the SQLite ODBC driver, a browser for the
# batch report, valgrind for the C host, python3-jsonschema to validate the
# JSON documents against their schemas), the benchmarks and the fuzzers
# (clang).
test=(sqlite3 unixodbc libsqliteodbc mdbtools libgtest-dev googletest libbenchmark-dev
      clang libclang-rt-14-dev chromium valgrind python3-jsonschema)

case "${1:-test}" in
  demo) packages=("${build[@]}") ;;
  package) packages=("${build[@]}" "${package[@]}") ;;
  test) packages=("${build[@]}" "${package[@]}" "${test[@]}") ;;
  *) echo "usage: $0 [demo|package|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
