#!/usr/bin/env bash
# Sets up everything on a fresh machine and runs the whole test suite:
# the native suite, then the same suite with the Windows program under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh
source scripts/wine-env.sh

ctest --preset native -j 2
ctest --preset mingw-i686
start_wine_session
trap stop_wine_session EXIT
ctest --preset mingw-x86_64
