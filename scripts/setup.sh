#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with. Skips apt
# entirely when every package is already there.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config libsqlite3-dev sqlite3
          unixodbc-dev unixodbc libsqliteodbc mdbtools mdbtools-dev libcli11-dev
          libgtest-dev googletest libbenchmark-dev clang libclang-rt-14-dev
          nlohmann-json3-dev help2man dpkg-dev libcsv-dev chromium valgrind
          libfmt-dev)

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
