#!/usr/bin/env bash
# Builds the apply-mode fuzz target (clang-14, libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer), replays the saved inputs through ctest, then
# fuzzes for a bounded time and prints libFuzzer's figures.
#
#   scripts/fuzz.sh [SECONDS]     (or QUORVANE_FUZZ_SECONDS; default 60)
#
# The fuzzer works on a copy of the seed corpus in a scratch directory, so
# tests/fuzz/corpus stays as checked in. An input that breaks a property or
# crashes is saved under build/fuzz/findings/; once the fault is fixed it
# belongs in tests/fuzz/regressions/, which the replay runs every time.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${QUORVANE_FUZZ_SECONDS:-60}}
fuzzer=build/fuzz/tests/fuzz/apply_package_fuzzer
findings=build/fuzz/findings

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2
ctest --preset fuzz

# On tmpfs when there is one; the fuzz target's own scratch files go there
# too, so that a run that ends in a finding leaves nothing behind.
scratch=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/corpus" "$scratch/target" "$findings"
cp tests/fuzz/corpus/* "$scratch/corpus/"
cp tests/fuzz/regressions/* "$scratch/corpus/" 2>/dev/null || true

status=0
QUORVANE_FUZZ_SCRATCH="$scratch/target" "$fuzzer" "$scratch/corpus" -dict=tests/fuzz/package.dict \
  -max_total_time="$seconds" -max_len=8192 -timeout=10 -print_final_stats=1 -artifact_prefix="$findings/" \
  >"$scratch/log" 2>&1 || status=$?

# The figures: libFuzzer's last status line (executions, cov: and ft:,
# corpus, exec/s) and its final statistics.
{
  grep -E '^#[0-9]+[[:space:]]' "$scratch/log" | tail -n 1
  grep -E '^stat::|^Done ' "$scratch/log"
} || true
if [ "$status" -ne 0 ]; then
  grep -E -A 40 'property violated|ERROR: (AddressSanitizer|libFuzzer|LeakSanitizer)|runtime error' \
    "$scratch/log" | head -n 60 || true
  echo "fuzz: finding saved under $findings/ (exit status $status)" >&2
fi
exit "$status"
