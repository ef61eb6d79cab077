#!/usr/bin/env bash
# Sets up everything on a fresh machine and shows the program's main job on
# the bundled sample: a publisher packs sample/src into a patch, a player
# applies it to the sample game folder, and the changed files are listed.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/install-deps.sh
scripts/build.sh

demo="$top/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp -r sample/game "$demo/game"

listing() { (cd "$1" && find . -type f -printf '%-32p %8s bytes  written %TY-%Tm-%Td %TH:%TM:%TS\n' | sort); }

echo "== The game folder before the update"
listing "$demo/game"

echo
echo "== Publisher: pack sample/src into copies of the programs"
cp build/mingw-i686/QuorvaneUpdate.exe "$demo/QuorvanePatch.exe"
cp build/native/quorvane-update "$demo/quorvane-patch"
(cd sample && "$top/build/native/quorvane-update" -l "$demo/QuorvanePatch.exe" 2>&1 | sed 's/^/  trace: /')
(cd sample && "$top/build/native/quorvane-update" -l "$demo/quorvane-patch" 2>/dev/null)
echo "  $(stat -c %s build/mingw-i686/QuorvaneUpdate.exe) bytes of program + package = $(stat -c %s "$demo/QuorvanePatch.exe") bytes: $demo/QuorvanePatch.exe (the Windows release)"

echo
echo "== Player: run the patch in the game folder and answer Yes"
(cd "$demo/game" && echo y | "$demo/quorvane-patch")

echo
echo "== The game folder after the update"
listing "$demo/game"
echo
echo "== Compared with the patch's files"
diff -r sample/src "$demo/game" | grep -v '^Only in .*game' || true
echo "  every packed file is in place, byte for byte (files only in the game folder are untouched)"
