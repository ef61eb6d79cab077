#!/usr/bin/env bash
# Takes the pictures of the Windows program's message boxes that the README
# shows, docs/boxes/*.png: the real 64-bit program under Wine on an Xvfb
# display, each box captured as it appears, then answered. Run it after a
# change to a box's text or style, and check the pictures in.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/install-deps.sh imagemagick
for preset in native mingw-x86_64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" --target quorvane_update
done

cd tests/dialogue
QUORVANE_NATIVE_PROGRAM="$top/build/native/quorvane-update" PYTHONPATH="$top/tests/e2e" \
  python3 -B box_pictures.py "$top/build/mingw-x86_64/QuorvaneUpdate.exe" \
  "$top/build/box-pictures-wineprefix" "$top/docs/boxes"
