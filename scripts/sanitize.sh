#!/usr/bin/env bash
# Builds the program and its tests with AddressSanitizer (leaks included) and
# UndefinedBehaviorSanitizer and runs the whole native suite, unit and
# end-to-end tests. Fails on a failed test or on any sanitizer report: the
# test preset ends a reporting program with exit code 86, which no test
# takes for a normal run.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset native-asan >/dev/null
cmake --build --preset native-asan -j 2
ctest --preset native-asan -j 2
