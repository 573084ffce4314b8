#!/usr/bin/env bash
# Builds the Debian packages apupgrade, libvelaccap1 and libvelaccap-dev as
# Debian builds its own (under /usr, with dpkg-buildflags' hardening flags,
# without the tests) and checks them with lintian, which fails on any error
# or warning. The .deb files are left in the build folder.
#   scripts/package.sh [BUILD_DIR]      (default build-deb)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-deb}"
"$root/scripts/setup.sh" package
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVELACCAP_DPKG_BUILDFLAGS=ON -DBUILD_TESTING=OFF -DVELACCAP_BENCH=OFF
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)
lintian --fail-on error,warning "$build"/*.deb
for deb in "$build"/*.deb; do
  echo "$(dpkg-deb -f "$deb" Package): $(dpkg-deb -f "$deb" Depends)"
done
