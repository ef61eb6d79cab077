#!/usr/bin/env bash
# Runs the 32-bit Windows release for real. This machine's kernel runs no
# 32-bit programs, so a Debian 12 guest, built from Debian's packages and
# booted under qemu, runs it under its own Wine (scripts/guest/): the
# release's unit tests, its packing compared with the 64-bit program's and
# the native program's and its applying, and the Windows end-to-end tests
# that CTest registers for the 64-bit program, against the release.
#
# The guest's image is kept in build/guest/image and rebuilt when the files
# that make it change; the first run builds it (a few minutes), later runs
# boot it at once. Each run boots a throw-away copy of it (qemu's snapshot).
set -euo pipefail
cd "$(dirname "$0")/.."
project=$(pwd)
started=$SECONDS

scripts/install-deps.sh

# What runs in the guest: the release and its unit tests, the 64-bit program
# and the file holder of the end-to-end tests, and the native program, which
# packs the tests' patches.
build() {
  local preset=$1
  shift
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" --target "$@"
}
build native quorvane_update
build mingw-i686 quorvane_update unit_tests
build mingw-x86_64 quorvane_update quorvane_hold_file
echo "guest test: programs built at $((SECONDS - started)) s"

image=build/guest/image
run=build/guest/run
mkdir -p "$image"
key=$(sha256sum <scripts/guest/build-image.sh | cut -d' ' -f1)

# Boots the guest for one step of scripts/guest/inside.sh, its console on
# standard output; succeeds when the step wrote its status and it was 0.
# Further arguments go to qemu.
boot() {
  local step=$1 status
  shift
  rm -rf "$run"
  mkdir -p "$run"
  # The end-to-end tests of the update as a whole: the all-or-nothing ones
  # and those of its safety on a player's machine. The rest, the front end
  # and the links (which Wine cannot make), are the 64-bit program's alone.
  python3 -B scripts/guest/windows_e2e.py plan build/mingw-x86_64 \
    "$project/build/mingw-i686/QuorvaneUpdate.exe" "$run/e2e-plan.json" \
    Apply OversizedPatch ConcurrentUpdates ScannerHolds
  # The guest's init is written into the image before each boot, so that a
  # change to it needs no new image.
  debugfs -w -R "rm /usr/sbin/quorvane-init" "$image/rootfs.img" >/dev/null 2>&1 || true
  debugfs -w -R "write scripts/guest/init /usr/sbin/quorvane-init" "$image/rootfs.img" >/dev/null 2>&1
  debugfs -R "cat /usr/sbin/quorvane-init" "$image/rootfs.img" 2>/dev/null | cmp -s - scripts/guest/init ||
    { echo "guest: cannot write the init into $image/rootfs.img" >&2; return 1; }
  echo "guest: booting for '$step'"
  # Software emulation: CI machines are virtual themselves, and where they
  # offer /dev/kvm it may not work (here qemu fails to set an MSR with
  # '-cpu host', and hangs with 'qemu64'). Under emulation '-cpu max' would
  # bring SMAP, with which every Wine program ends in a kernel oops at iret.
  timeout "${QUORVANE_GUEST_TIMEOUT:-3600}" qemu-system-x86_64 \
    -accel tcg -cpu max,-smap -smp 2 -m 2048 \
    -nodefaults -no-reboot -display none -serial stdio \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 quiet loglevel=3 init=/usr/sbin/quorvane-init quorvane.step=$step quorvane.project=$project" \
    -drive "file=$image/rootfs.img,if=virtio,format=raw" \
    -virtfs "local,path=$project,mount_tag=project,security_model=none,readonly=on" \
    -virtfs "local,path=$project/$run,mount_tag=output,security_model=none" \
    "$@" </dev/null || true
  status=$(cat "$run/status" 2>/dev/null || echo "none: the guest stopped before the step ended")
  echo "guest: step '$step' ended with $status"
  [ "$status" = 0 ]
}

if [ "$(cat "$image/key" 2>/dev/null)" != "$key" ]; then
  rm -f "$image/key" "$image/prepared"
  echo "guest: building the image"
  scripts/guest/build-image.sh "$image"
  echo "$key" >"$image/key"
  echo "guest test: image built at $((SECONDS - started)) s"
fi
if [ ! -f "$image/prepared" ]; then
  # The Wine prefix is made in the guest, once, and kept in the image.
  boot prepare
  touch "$image/prepared"
  echo "guest test: Wine prefix made at $((SECONDS - started)) s"
fi

boot test -snapshot
echo "guest test: passed in $((SECONDS - started)) s"
