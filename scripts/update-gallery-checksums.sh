#!/usr/bin/env bash
# Regenerates tests/gallery/checksums.txt from the native build's gallery,
# after a change that is meant to change pictures (or adds a scene). Check
# the pictures in build/gallery-update/index.html before committing; the
# Windows tests then hold the DLL to the same checksums.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native --target zantrel
rm -rf build/gallery-update
build/native/bin/zantrel gallery build/gallery-update
cp build/gallery-update/checksums.txt tests/gallery/checksums.txt
git --no-pager diff --stat -- tests/gallery/checksums.txt || true
