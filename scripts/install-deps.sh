#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, and nothing
# when they are all there already. Further packages named as arguments are
# installed too (scripts/box-pictures.sh adds imagemagick).
set -euo pipefail

packages=(
  cmake make g++ python3 googletest zlib1g-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
  wine wine64 osslsigncode openssl
  clang-14 libclang-rt-14-dev valgrind clang-tidy cppcheck
  dpkg-dev file strace lintian pkg-config libdivsufsort-dev
  qemu-system-x86 debootstrap
  xvfb xdotool fonts-wine fonts-ipafont-gothic
  pigz disorderfs fuse3
  "$@"
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
