#!/usr/bin/env bash
# Installs what is missing, builds both flavours and runs every test of both:
# the native library with AddressSanitizer and UndefinedBehaviorSanitizer, and
# the 32-bit Windows DLL under wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
status=0

echo "== native: configure, build, test"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs" || status=1

echo "== windows: configure, build, test under wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
ctest --preset windows || status=1

echo "== tsan: thread stress test under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan || status=1

if [ "$status" -ne 0 ]; then
  echo "tests failed"
fi
exit "$status"
