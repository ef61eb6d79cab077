#!/usr/bin/env bash
# Configures and builds the three programs: native, the 32-bit Windows
# release and the 64-bit Windows program that runs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
for preset in native mingw-i686 mingw-x86_64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
