#!/usr/bin/env bash
# Installs only what the native demo needs (a compiler, CMake, Ninja and
# libpng: no Windows toolchain, wine or qemu), builds the optimised program
# alone (no tests, no benchmarks) and renders the demo scene into demo.png in
# the directory this script was started from.
set -euo pipefail

start_dir=$(pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bash "$root/scripts/install-deps.sh" --demo

cmake -S "$root" -B "$root/build/demo" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZL_BUILD_TOOLS=ON -DZL_BUILD_TESTS=OFF -DZL_BUILD_BENCH=OFF -DZL_BUILD_DOCS=OFF >/dev/null
cmake --build "$root/build/demo" --target zantrel

# The program writes demo.png into its current directory.
cd "$start_dir"
"$root/build/demo/bin/zantrel" demo
