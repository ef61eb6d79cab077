#!/bin/bash
# Runs inside the guest, started by its init with one step:
#   prepare  makes the Wine prefix (once, when the image is built)
#   test     runs the 32-bit release's unit tests, its packing and applying
#            against its 64-bit twin and the native program, and the
#            Windows end-to-end tests that the host planned, against it
# The project folder is the host's, read-only; /output is the host's
# folder for this run; the tests work in /tmp.
set -u
project=$(cd "$(dirname "$0")/../.." && pwd)
prefix=/root/wineprefix
release=$project/build/mingw-i686/QuorvaneUpdate.exe
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8 LC_ALL=C.UTF-8

# Runs the command after the name, with its time; remembers a failure.
failed=()
phase() {
  local name=$1 started=$SECONDS
  shift
  echo "=== $name"
  if "$@"; then
    echo "=== $name: passed in $((SECONDS - started)) s"
  else
    echo "=== $name: FAILED in $((SECONDS - started)) s"
    failed+=("$name")
  fi
}

# Run from a copy on the guest's own disk: Wine reads a program's sections
# with single reads, and a read over virtfs may return less than asked for,
# which leaves the end of a large section zero (the 3.8 MB test program
# jumped into zeros).
unit_tests() {
  local work
  work=$(mktemp -d)
  cp "$project/build/mingw-i686/tests/unit/unit_tests.exe" "$work/"
  # Through a pipe, Wine writes plain text rather than a console's escapes.
  # The two tests that cut a package at every byte take minutes under
  # emulation; they judge the portable reader, which the 64-bit program's
  # run covers.
  (cd "$work" && wine unit_tests.exe --gtest_filter=-TruncatedPackageTest.*CutAnywhere* 2>&1 | cat
   exit "${PIPESTATUS[0]}")
}

release_program() {
  (cd "$project/scripts/guest" &&
   PYTHONPATH="$project/tests/e2e" QUORVANE_PROGRAM="$release" QUORVANE_EMULATOR=wine \
   QUORVANE_TWIN_PROGRAM="$project/build/mingw-x86_64/QuorvaneUpdate.exe" QUORVANE_WINEPREFIX="$prefix" \
   QUORVANE_NATIVE_PROGRAM="$project/build/native/quorvane-update" \
   python3 -B -m unittest -v test_release_program)
}

case ${1:-} in
  prepare)
    # Made here rather than by the tests' own preparation, which gives Wine
    # less time than a new 32- and 64-bit prefix takes under emulation. On a
    # busy machine that is longer than the 32-bit loader waits for it (five
    # minutes): the loader then gives up while the 64-bit side goes on, so
    # its failure is let pass, every Wine process waited for, and the prefix
    # judged by the next phase, which runs Wine in it.
    rm -rf "$prefix"
    started=$SECONDS
    wineboot -i || echo "wineboot stopped waiting for the new prefix; waiting for Wine to finish it"
    wineserver -w
    echo "=== wineboot: $((SECONDS - started)) s"
    phase "Wine prefix" python3 -B "$project/tests/e2e/wine_backend.py" "$prefix"
    wineserver -w
    ;;
  test)
    echo "guest: $(uname -r) $(uname -m), $(nproc) processors, $(wine --version)"
    # The prefix is ready since the image was built; this is quick then.
    phase "Wine prefix" python3 -B "$project/tests/e2e/wine_backend.py" "$prefix"
    wineserver -p60
    phase "unit tests, 32-bit" unit_tests
    phase "release program: packs like its twins, applies" release_program
    phase "end-to-end tests, 32-bit" python3 -B "$project/scripts/guest/windows_e2e.py" run /output/e2e-plan.json "$prefix"
    wineserver -k
    ;;
  *)
    echo "unknown step: ${1:-}" >&2
    exit 2
    ;;
esac
if [ ${#failed[@]} -ne 0 ]; then
  echo "failed in the guest: ${failed[*]}"
  exit 1
fi
