#!/usr/bin/env bash
# Installs what a Debian 12 machine lacks to build and test both flavours;
# does nothing (and needs no sudo) when everything is already present.
#   install-deps.sh          everything: native build and tests, the Windows
#                            cross toolchain, LLVM's dlltool, clang-cl and
#                            lld-link (the Microsoft-style import library and
#                            the host built like a Visual Studio one), 32-bit
#                            wine, Chromium for the gallery page's check, and
#                            qemu-i386 where the kernel cannot run 32-bit
#                            programs
#   install-deps.sh --demo   only what the native demo program needs
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=i386-exec.sh
. "$here/i386-exec.sh"

demo_only=0
case "${1:-}" in
  --demo) demo_only=1 ;;
  "") ;;
  *) echo "usage: $0 [--demo]" >&2; exit 2 ;;
esac

# Runs a command as root: directly when this is root, else through sudo,
# which is asked for only here, that is only when something must change.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    echo "install-deps.sh: must install packages but is not root and sudo is missing: $*" >&2
    exit 1
  fi
}

installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]
}

# A mirror caught mid-sync fails an index now and then ("File has unexpected
# size"): try again after a pause. If one still fails, the suites whose
# indexes failed are noted: where their other architectures did download, the
# install may then want, say, a security update for amd64 whose i386 twin
# is unknown, and finds no consistent set. The install is then tried once
# more with those suites set aside, from the suites that downloaded whole.
failed_suites=()
apt_update() {
  local attempt log
  log=$(mktemp)
  for attempt in 1 2 3; do
    if as_root apt-get update -qq 2>"$log"; then
      cat "$log" >&2; rm -f "$log"; failed_suites=(); return 0
    fi
    cat "$log" >&2
    echo "install-deps.sh: apt-get update failed (attempt $attempt of 3)" >&2
    [ "$attempt" -lt 3 ] && sleep 20
  done
  mapfile -t failed_suites < <(sed -nE 's|.*Failed to fetch .*/dists/([^/ ]+)/.*|\1|p' "$log" | sort -u)
  rm -f "$log"
  echo "install-deps.sh: going on with the package indexes that did download" >&2
}

apt_install() {
  apt_update
  local get=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends)
  if as_root "${get[@]}" "$@"; then return 0; fi
  [ "${#failed_suites[@]}" -gt 0 ] || return 1
  local pins suite
  pins=$(mktemp)
  for suite in "${failed_suites[@]}"; do
    printf 'Package: *\nPin: release n=%s\nPin-Priority: -1\n\n' "$suite" >>"$pins"
  done
  echo "install-deps.sh: installing again without ${failed_suites[*]}" >&2
  chmod 644 "$pins"
  local rc=0
  as_root "${get[@]}" -o Dir::Etc::Preferences="$pins" "$@" || rc=$?
  rm -f "$pins"
  return $rc
}

if [ "$demo_only" -eq 1 ]; then
  pkgs=(cmake ninja-build g++ libpng-dev)
else
  pkgs=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev libpixman-1-dev
        libpng-dev pkg-config g++-mingw-w64-i686 dpkg-dev doxygen wine wine32:i386
        ffmpeg llvm-14 lld-14 clang-14
        chromium)  # ffmpeg: zantrel video's tests; chromium: the gallery page's check
fi

missing=()
for p in "${pkgs[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ "$demo_only" -eq 0 ] && [ "${#missing[@]}" -gt 0 ] &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
fi
if [ "${#missing[@]}" -gt 0 ]; then apt_install "${missing[@]}"; fi
if [ "$demo_only" -eq 1 ]; then exit 0; fi

# The Debian mirror the machine already uses, from deb822 .sources files or
# from one-line sources.list entries (with or without [options]); nothing
# found is no error.
debian_mirror() {
  local mirror=""
  mirror=$( { grep -hs -E '^URIs:' /etc/apt/sources.list.d/*.sources || true; } |
            tr ' ' '\n' | grep -m1 -E '^https?://.*/debian/?$' || true)
  if [ -z "$mirror" ]; then
    mirror=$( { grep -hs -E '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list || true; } |
              sed -E 's/\[[^]]*\]//' | awk '{print $2}' | grep -m1 -E '^https?://.*/debian/?$' || true)
  fi
  echo "${mirror:-http://deb.debian.org/debian}"
}

# 32-bit wine on a kernel that cannot run 32-bit programs: scripts/wine-run.sh
# then runs them through qemu-i386 (binfmt_misc). qemu-user older than 8.1
# (Debian 12 has 7.2) makes every wine process start take ~45 s (its mmap
# emulation scans the whole 4 GiB guest space page by page, and it ignores
# MAP_FIXED_NOREPLACE, which wine relies on), so take it from bookworm-backports.
qemu_ok() {
  local v
  installed qemu-user || return 1
  v=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null) || return 1
  dpkg --compare-versions "$v" ge 1:8.1
}
if kernel_cannot_run_i386 && ! qemu_ok; then
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  target=()
  if [ "$codename" = bookworm ]; then
    if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      printf '%s\n' 'Types: deb' "URIs: $(debian_mirror)" 'Suites: bookworm-backports' \
        'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
        as_root tee /etc/apt/sources.list.d/bookworm-backports.sources >/dev/null
    fi
    target=(-t bookworm-backports)
  fi
  apt_install "${target[@]}" qemu-user
fi
