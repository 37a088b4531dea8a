#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test both flavours.
# Does nothing when everything is already present.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then need_i386=1; fi

pkgs=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev libpixman-1-dev
      libpng-dev pkg-config g++-mingw-w64-i686 dpkg-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
dpkg-query -W -f='${Status}' wine 2>/dev/null | grep -q "install ok installed" || missing+=(wine)
dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" || missing+=(wine32:i386)

if [ "$need_i386" -eq 0 ] && [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

if [ "$need_i386" -eq 1 ]; then $SUDO dpkg --add-architecture i386; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
