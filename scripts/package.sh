#!/usr/bin/env bash
# Builds the 32-bit Windows release and the native program and makes the
# Debian package of the publisher's tool, build/dist/quorvane-update_<version>_<arch>.deb:
# the native program in /usr/bin, the Windows program that patches are
# packed onto and the README in /usr/share/quorvane-update.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
for preset in mingw-i686 native; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" --target quorvane_update
done
rm -rf build/dist
cpack --config build/native/CPackConfig.cmake -B build/dist
# What CPack staged the package in.
rm -rf build/dist/_CPack_Packages
ls build/dist/*.deb
