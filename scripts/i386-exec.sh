# Sourced by install-deps.sh and wine-run.sh: can this machine run 32-bit
# (i386) programs, and does it need qemu-i386 for that?

WINE32=/usr/lib/wine/wine
BINFMT=/proc/sys/fs/binfmt_misc

# True when the kernel refuses i386 programs outright (its 32-bit emulation
# is off): running the 32-bit wine loader fails with "Exec format error"
# (status 126). Any other failure (wine32 missing or broken) says nothing
# about the kernel. Once qemu-i386 is registered with binfmt_misc every i386
# program runs through it, so a registration made earlier counts as a yes.
kernel_cannot_run_i386() {
  if [ -e "$BINFMT/qemu-i386" ]; then return 0; fi
  [ -x "$WINE32" ] || return 1
  local status=0
  "$WINE32" --version >/dev/null 2>&1 || status=$?
  [ "$status" -eq 126 ]
}
