#!/usr/bin/env bash
# Runs a Windows program under wine, quietly, with a prefix of the project's own.
#   wine-run.sh PROGRAM.exe [ARGS...]
# Passes the program's stdout/stderr and exit code through.
#
# 32-bit wine (/usr/lib/wine/wine, package wine32:i386) is an i386 ELF. Only on a
# kernel whose 32-bit emulation is off ("Exec format error"), this script registers
# qemu-i386 with binfmt_misc (flag F), so that every i386 ELF wine starts (its
# loader, services.exe, the program itself) runs through qemu-user. It needs
# qemu-user >= 8.1 (scripts/install-deps.sh takes it from bookworm-backports);
# with Debian 12's qemu 7.2 each wine process takes ~45 s to start.
# The registration needs root (or sudo) once per boot.
#
# The prefix is created on first use (default arch, win64: wine's helper
# processes run natively, only 32-bit programs go through qemu). Setting
# WINE_RUN_PERSIST=N keeps the wineserver (and wine's helper processes) alive
# for N seconds after the last program exits, which takes a run from ~1.2 s to
# ~0.25 s; the default is 0, because those helpers inherit the program's
# output and a caller reading it through a pipe (ctest) would wait for them.
set -euo pipefail
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/zantrel-wine}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ "$#" -lt 1 ]; then
  echo "usage: $0 PROGRAM.exe [ARGS...]" >&2
  exit 2
fi

# shellcheck source=i386-exec.sh
. "$(dirname "${BASH_SOURCE[0]}")/i386-exec.sh"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo -n "$@"; fi
}

pick_qemu() {
  local q v
  for q in /usr/bin/qemu-i386 /usr/bin/qemu-i386-static; do
    [ -x "$q" ] || continue
    v=$("$q" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\.\([0-9]*\).*/\1 \2/p')
    # shellcheck disable=SC2086
    set -- $v
    if [ "${1:-0}" -gt 8 ] || { [ "${1:-0}" -eq 8 ] && [ "${2:-0}" -ge 1 ]; }; then
      echo "$q"; return 0
    fi
  done
  for q in /usr/bin/qemu-i386 /usr/bin/qemu-i386-static; do
    if [ -x "$q" ]; then
      echo "wine-run.sh: warning: $q is older than 8.1; each wine process will take ~45 s to start (run scripts/install-deps.sh)" >&2
      echo "$q"; return 0
    fi
  done
  return 1
}

# Make i386 ELF binaries executable (natively or through qemu-i386).
# qemu-i386 is registered only on a kernel that cannot run 32-bit programs.
ensure_i386_exec() {
  if "$WINE32" --version >/dev/null 2>&1; then return 0; fi
  if ! kernel_cannot_run_i386; then
    echo "wine-run.sh: cannot run 32-bit wine ($WINE32), although this kernel runs 32-bit programs: is wine32:i386 installed? (run scripts/install-deps.sh)" >&2
    return 1
  fi
  local qemu
  if ! qemu=$(pick_qemu); then
    echo "wine-run.sh: this kernel cannot run 32-bit ELF binaries and qemu-i386 is missing (run scripts/install-deps.sh)" >&2
    return 1
  fi
  if [ ! -e "$BINFMT/register" ]; then
    as_root mount -t binfmt_misc binfmt_misc "$BINFMT" || true
  fi
  if [ -e "$BINFMT/qemu-i386" ]; then
    # present but not working (disabled, or its interpreter is gone): replace it
    echo -1 | as_root tee "$BINFMT/qemu-i386" >/dev/null || true
  fi
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':FP' |
    as_root tee "$BINFMT/register" >/dev/null 2>&1 || true
  if ! "$WINE32" --version >/dev/null 2>&1; then
    echo "wine-run.sh: cannot run 32-bit wine ($WINE32): 32-bit emulation is off and registering $qemu with binfmt_misc failed" >&2
    return 1
  fi
}

setup() {
  ensure_i386_exec
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wine wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine-run.sh: creating the wine prefix $WINEPREFIX failed" >&2
      return 1
    fi
  fi
}

mkdir -p "$(dirname "$WINEPREFIX")"
# Serialise the one-time set-up between concurrent runs; the lock is not
# inherited by wine (it is held by the subshell only).
(
  flock 9
  setup
) 9>"$WINEPREFIX.lock"

# Keep a wineserver around between runs (fails harmlessly if one is running).
wineserver -p"${WINE_RUN_PERSIST:-0}" </dev/null >/dev/null 2>&1 || true

exec wine "$@"
