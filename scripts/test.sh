#!/usr/bin/env bash
# Sets up everything on a fresh machine and runs the whole test suite: the
# native suite, the Windows program's release checks (two clean builds
# compared among them) and its suite under Wine (the message boxes answered
# on an Xvfb display among them), the 32-bit release's tests in a Debian
# guest under qemu, whose kernel runs 32-bit programs, then the same native
# suite under the
# sanitizers and valgrind, static analysis, the fuzzer (replay and a bounded
# run) and a tiny benchmark run that keeps the benchmark script working.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh
source scripts/wine-env.sh

ctest --preset native -j 2
# The Debian package, built, then installed and used as a publisher would.
scripts/package.sh
scripts/check-package.sh
ctest --preset mingw-i686
start_wine_session
trap stop_wine_session EXIT
ctest --preset mingw-x86_64
stop_wine_session
scripts/guest-test.sh

scripts/sanitize.sh
scripts/memcheck.sh
scripts/analyse.sh
scripts/fuzz.sh "${QUORVANE_FUZZ_SECONDS:-60}"
python3 bench/benchmark.py --tiny --results build/benchmark-results-tiny.json
