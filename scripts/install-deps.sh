#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test both flavours.
# Does nothing when everything is already present.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then need_i386=1; fi

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

pkgs=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev libpixman-1-dev
      libpng-dev pkg-config g++-mingw-w64-i686 dpkg-dev doxygen)
missing=()
for p in "${pkgs[@]}"; do
  installed "$p" || missing+=("$p")
done
installed wine || missing+=(wine)
installed wine32:i386 || missing+=(wine32:i386)

if [ "$need_i386" -eq 1 ] || [ "${#missing[@]}" -gt 0 ]; then
  if [ "$need_i386" -eq 1 ]; then $SUDO dpkg --add-architecture i386; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# 32-bit wine on a kernel that cannot run 32-bit ELF binaries (ia32 emulation
# disabled): scripts/wine-run.sh then runs them through qemu-i386 (binfmt_misc).
# qemu-user older than 8.1 (Debian 12 has 7.2) makes every wine process start
# take ~45 s (its mmap emulation scans the whole 4 GiB guest space page by page,
# and it ignores MAP_FIXED_NOREPLACE which wine relies on), so take qemu-user
# from bookworm-backports there.
wine32_runs_natively() {
  [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}
qemu_ok() {
  local v
  v=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null) || return 1
  installed qemu-user && dpkg --compare-versions "$v" ge 1:8.1
}
if ! wine32_runs_natively && ! qemu_ok; then
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  target=()
  if [ "$codename" = bookworm ]; then
    if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      # The same mirror as the machine's own Debian sources.
      mirror=$(grep -hm1 -E '^URIs:.*/debian/?$' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{print $2}')
      [ -n "$mirror" ] || mirror=$(grep -hm1 -E '^deb .*/debian/? bookworm ' /etc/apt/sources.list 2>/dev/null | awk '{print $2}')
      printf '%s\n' 'Types: deb' "URIs: $mirror" 'Suites: bookworm-backports' \
        'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
        $SUDO tee /etc/apt/sources.list.d/bookworm-backports.sources >/dev/null
    fi
    target=(-t bookworm-backports)
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${target[@]}" qemu-user
fi
