#!/usr/bin/env bash
# The compositing benchmark run several times, each run a process of its own,
# with each counter's median over the runs and the machine's load:
#   bench/composite_medians.sh [native|dll] [RUNS] [EXTRA BENCHMARK ARGS...]
# native (the default) runs build/release/bin/zl_bench; dll runs the DLL's
# zl_bench.exe under wine from build/windows-release/bin (build both first:
# see the README's Benchmarks). RUNS defaults to 5.
#
# Separate processes, not --benchmark_repetitions: where a process's frames
# land in physical memory (4 KiB pages under wine) moves its figures, and
# repetitions inside one process all share that placement. Each run is
# pinned to the last core where taskset exists, so that the load average,
# printed before the first run and after each, counts the benchmark as 1.
# The raw output of each run is kept in build/composite_medians/.
# Run by hand only; the tests never call it (timings are not checked).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
FLAVOUR=${1:-native}
RUNS=${2:-5}
shift $(( $# < 2 ? $# : 2 ))

case "$FLAVOUR" in
  native) DIR="$ROOT/build/release/bin"; BENCH=(./zl_bench) ;;
  dll) DIR="$ROOT/build/windows-release/bin"; BENCH=(bash "$ROOT/scripts/wine-run.sh" ./zl_bench.exe) ;;
  *) echo "usage: $0 [native|dll] [RUNS] [EXTRA BENCHMARK ARGS...]" >&2; exit 2 ;;
esac
[ -e "$DIR/${BENCH[-1]#./}" ] || { echo "$DIR/${BENCH[-1]#./} is not built" >&2; exit 1; }

PIN=()
if command -v taskset >/dev/null; then PIN=(taskset -c "$(( $(nproc) - 1 ))"); fi
OUT="$ROOT/build/composite_medians"
mkdir -p "$OUT"
rm -f "$OUT/$FLAVOUR"-*.txt "$OUT/$FLAVOUR"-*.context

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "flavour $FLAVOUR, $RUNS runs, $(nproc) cores, load before: $(load)"
for ((r = 1; r <= RUNS; r++)); do
  (cd "$DIR" && "${PIN[@]}" "${BENCH[@]}" "$@" 2>"$OUT/$FLAVOUR-$r.context") | grep '^BM_' > "$OUT/$FLAVOUR-$r.txt"
  # What the runs ran on (the processor's vectors pick the library's blends).
  if [ "$r" -eq 1 ]; then grep -E '^(Run on|frame|pixman|vectors):? ' "$OUT/$FLAVOUR-1.context" || true; fi
  echo "load after run $r: $(load)"
done

# One line per benchmark: the median over the runs of each counter that it
# reports (nan where it reports none), and how many runs reported it.
awk '
function median(list,    n, v, i, j, t) {
  n = split(list, v, " ")
  for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
  return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
}
{
  name = $1; sub(/\/manual_time$/, "", name)
  if (!(name in seen)) { seen[name] = 1; order[++count] = name }
  runs[name]++
  for (f = 2; f <= NF; f++) {
    if (split($f, kv, "=") != 2) continue
    key = kv[1]; value = kv[2]
    if (value ~ /[kMG]$/) continue
    values[name, key] = values[name, key] " " value
  }
}
END {
  split("ms to_floor to_dram_floor vs_pixman vs_pels", keys, " ")
  printf "%-44s", "median of " ARGV_RUNS " runs"
  for (k = 1; k <= 5; k++) printf " %13s", keys[k]
  printf "  runs\n"
  for (i = 1; i <= count; i++) {
    name = order[i]
    printf "%-44s", name
    for (k = 1; k <= 5; k++) {
      if ((name, keys[k]) in values) printf " %13.3f", median(values[name, keys[k]])
      else printf " %13s", "nan"
    }
    printf "  %d\n", runs[name]
  }
}' ARGV_RUNS="$RUNS" "$OUT/$FLAVOUR"-[0-9]*.txt
