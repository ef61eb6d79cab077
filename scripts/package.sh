#!/usr/bin/env bash
# Builds the 32-bit Windows release and the native program and makes the
# Debian package of the publisher's tool, build/dist/quorvane-update_<version>_<arch>.deb:
# the native program in /usr/bin, the Windows program that patches are
# packed onto and the README in /usr/share/quorvane-update.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686 -j "$(nproc)" --target quorvane_update
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target quorvane_update quorvane_package_documents
rm -rf build/dist
cpack --config build/native/CPackConfig.cmake -B build/dist
# What CPack staged the package in.
rm -rf build/dist/_CPack_Packages
ls build/dist/*.deb
