#!/usr/bin/env bash
# Builds the Debian 12 guest that runs the 32-bit Windows program: a
# minimal bookworm with its own kernel, Wine for 32- and 64-bit programs and
# Python, in an ext4 image made without a loop device. The i386 architecture
# is added inside the guest's tree only; the host's packages stay as they are.
# Usage: build-image.sh DIRECTORY
# Leaves DIRECTORY/rootfs.img, DIRECTORY/vmlinuz and DIRECTORY/initrd.img.
set -euo pipefail

out=$1
mirror=${QUORVANE_GUEST_MIRROR:-http://deb.debian.org/debian}
image_size=6G  # Wine and its prefix outgrow 3 GB

root="$out/root"
cleanup() {
  for mount in "$root/proc" "$root/sys" "$root/dev/pts" "$root/dev"; do
    mountpoint -q "$mount" 2>/dev/null && umount -l "$mount"
  done
  return 0
}
trap cleanup EXIT
cleanup
rm -rf "$root" "$out/rootfs.img" "$out/vmlinuz" "$out/initrd.img"
mkdir -p "$out"

debootstrap --variant=minbase bookworm "$root" "$mirror" >"$out/debootstrap.log" 2>&1 ||
  { tail -n 20 "$out/debootstrap.log" >&2; exit 1; }

cat >"$root/etc/apt/sources.list" <<SOURCES
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb ${QUORVANE_GUEST_SECURITY_MIRROR:-http://deb.debian.org/debian-security} bookworm-security main
SOURCES
mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
in_guest() { chroot "$root" env DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 "$@"; }
in_guest dpkg --add-architecture i386
in_guest apt-get update -qq
# libdivsufsort3: the native program, which packs the tests' patches, runs
# in the guest too.
in_guest apt-get install -y -qq --no-install-recommends \
  linux-image-amd64 initramfs-tools kmod wine wine64 wine32:i386 python3 libdivsufsort3 \
  >"$out/packages.log" 2>&1 || { tail -n 30 "$out/packages.log" >&2; exit 1; }
in_guest apt-get clean
cleanup

cp "$root"/boot/vmlinuz-* "$out/vmlinuz"
cp "$root"/boot/initrd.img-* "$out/initrd.img"
mkfs.ext4 -q -L quorvane-guest -d "$root" "$out/rootfs.img" "$image_size"
rm -rf "$root"
