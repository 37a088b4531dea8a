#!/usr/bin/env bash
# Fails when the DLL imports anything but system DLLs and the sibling
# Quoravel.dll (the GCC runtime and winpthread must be linked in).
set -euo pipefail
dll="$1"
imports=$(i686-w64-mingw32-objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "imports: $(echo $imports)"
allowed='^(kernel32|msvcrt|user32|advapi32|ntdll|ucrtbase|quoravel|api-ms-win-[a-z0-9-]+)\.dll$'
bad=$(echo "$imports" | grep -v -E "$allowed" || true)
if [ -n "$bad" ]; then
  echo "non-system imports: $bad"
  exit 1
fi
