#!/usr/bin/env bash
# Builds the libFuzzer targets with clang 14 (ASan + UBSan, fuzz preset) and
# fuzzes one of them, niced, with one job, from a scratch copy of its kept
# corpus; new inputs are merged back into tests/fuzz/corpus/<target> minimised.
#   scripts/fuzz.sh TARGET [SECONDS] [extra libFuzzer flags...]
# A crash leaves its input in build/fuzz/findings-<target>/: copy it to
# tests/fuzz/findings/<target>/ once the fault is fixed, so it is replayed.
set -euo pipefail
cd "$(dirname "$0")/.."

target="${1:?usage: scripts/fuzz.sh TARGET [SECONDS] [libFuzzer flags...]}"
seconds="${2:-600}"
shift $(( $# >= 2 ? 2 : 1 ))

command -v clang++-14 >/dev/null || { echo "fuzz.sh needs clang-14 (apt-get install clang-14)" >&2; exit 1; }

nice -n 15 cmake --preset fuzz >/dev/null
nice -n 15 cmake --build --preset fuzz -j 1 --target "${target}_fuzzer"

kept=tests/fuzz/corpus/$target
work=build/fuzz/corpus-$target
findings=build/fuzz/findings-$target
mkdir -p "$kept" "$work" "$findings"
cp -n "$kept"/* "$work"/ 2>/dev/null || true
cp -n tests/fuzz/findings/"$target"/* "$work"/ 2>/dev/null || true

status=0
nice -n 15 "build/fuzz/bin/${target}_fuzzer" -max_len=512 -max_total_time="$seconds" \
  -artifact_prefix="$findings/" -print_final_stats=1 "$@" "$work" || status=$?

# Minimise into the kept corpus: only inputs that add an edge stay (hit
# counts ignored), which keeps it to a few hundred small files.
fresh=$(mktemp -d)
nice -n 15 "build/fuzz/bin/${target}_fuzzer" -merge=1 -use_counters=0 -max_len=512 "$fresh" "$work" >/dev/null 2>&1
rm -f "$kept"/*
cp "$fresh"/* "$kept"/
rm -rf "$fresh"
echo "kept corpus: $(ls "$kept" | wc -l) files, $(du -sb "$kept" | cut -f1) bytes"
exit "$status"
