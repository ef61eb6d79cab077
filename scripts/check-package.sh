#!/usr/bin/env bash
# Checks the Debian package that scripts/package.sh made on this machine with
# lintian, installs it as on a publisher's build server, and goes through
# the publisher's workflow with the installed files only: copy the Windows
# program, pack, verify, list, sign, verify again; and a patch packed after
# signing, which must fail to verify. The package stays installed.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build/dist/quorvane-update_*_"$(dpkg --print-architecture)".deb)
if [ ${#packages[@]} -ne 1 ] || [ ! -f "${packages[0]}" ]; then
  echo "expected one package in build/dist; run scripts/package.sh first" >&2
  exit 1
fi
# Debian's own checks of a package: any error or warning fails (each tag
# the package overrides says why, in packaging/lintian-overrides).
lintian --info --pedantic --fail-on error,warning "${packages[0]}"
echo "lintian: no error, no warning"
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --reinstall "./${packages[0]}" >/dev/null

tool=/usr/bin/quorvane-update
windows_program=/usr/share/quorvane-update/QuorvaneUpdate.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

mkdir -p src/data/levels "src/セーブ"
printf 'Quorvane 1.0.3\r\n' >src/readme.txt
head -c 5000 /dev/urandom >src/data/levels/stage1.dat
: >src/data/empty.bin
printf '[表示]\r\n' >"src/セーブ/設定.ini"

cp "$windows_program" patch.exe
"$tool" -l patch.exe 2>/dev/null
"$tool" --verify patch.exe
"$tool" --list patch.exe | tee listing.txt
listed=$(cut -f1 listing.txt | sed '$d' | sort)
expected=$(printf '%s\n' '.\data\empty.bin' '.\data\levels\stage1.dat' '.\readme.txt' '.\セーブ\設定.ini' | sort)
if [ "$listed" != "$expected" ]; then
  printf 'the listing names\n%s\ninstead of\n%s\n' "$listed" "$expected" >&2
  exit 1
fi
tail -n 1 listing.txt | grep -qx $'4 files\t5026\t[0-9]*' || { echo "wrong totals in the listing" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quorvane Test Publisher" \
  -addext extendedKeyUsage=codeSigning -keyout publisher.key -out publisher.pem 2>/dev/null
osslsigncode sign -certs publisher.pem -key publisher.key -h sha256 -in patch.exe -out signed.exe >/dev/null
"$tool" --verify signed.exe | grep -q 'the signature covers the package'
# Signed first and packed afterwards: the package lies outside the signature.
osslsigncode sign -certs publisher.pem -key publisher.key -h sha256 -in "$windows_program" \
  -out signed-first.exe >/dev/null
"$tool" -l signed-first.exe 2>/dev/null
if reason=$("$tool" --verify signed-first.exe 2>&1); then
  echo "--verify accepts a patch packed after signing" >&2
  exit 1
fi
grep -q 'appended after the patch was signed' <<<"$reason" || { echo "wrong reason: $reason" >&2; exit 1; }
echo "installed package: packs, verifies and lists a patch, verifies it signed, refuses one packed after signing"
