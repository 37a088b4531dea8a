#!/usr/bin/env bash
# Builds consumer.c as a host made with Microsoft's tool chain would be:
# compiled by clang-cl for i686-pc-windows-msvc against the installed header,
# linked by lld-link with /SAFESEH (as Visual Studio's Win32 projects link)
# against the installed ZantrelLayer.lib. No C runtime: kernel32 comes through
# a stub import library made from kernel32.def.
#   msvc-host.sh PREFIX OUT_DIR      -> OUT_DIR/consumer_msvc_host.exe
set -euo pipefail
prefix=$(cd "$1" && pwd)
out=$2
here=$(cd "$(dirname "$0")" && pwd)

pick() {
  local t
  for t in "$@"; do
    if command -v "$t" >/dev/null 2>&1; then echo "$t"; return 0; fi
  done
  echo "msvc-host.sh: none of $* found (run scripts/install-deps.sh)" >&2
  return 1
}
clang=$(pick clang-14 clang)
lld_link=$(pick lld-link-14 lld-link)
dlltool=$(pick llvm-dlltool-14 llvm-dlltool)

mkdir -p "$out"
"$dlltool" -m i386 -k -d "$here/kernel32.def" -D kernel32.dll -l "$out/kernel32.lib"
# /GS-: no stack cookie, which the C runtime would provide.
"$clang" --driver-mode=cl --target=i686-pc-windows-msvc /nologo /c /Od /GS- /W4 /WX \
  /DZL_CONSUMER_NO_CRT "/I$prefix/include" "/Fo$out/consumer_msvc_host.obj" -- "$here/consumer.c"
"$lld_link" /nologo /safeseh /subsystem:console /entry:ConsumerStart /nodefaultlib \
  "/out:$out/consumer_msvc_host.exe" "$out/consumer_msvc_host.obj" \
  "$prefix/lib/ZantrelLayer.lib" "$out/kernel32.lib"
