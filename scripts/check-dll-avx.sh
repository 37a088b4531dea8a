#!/usr/bin/env bash
# Fails unless the DLL's AVX instructions (VEX- or EVEX-encoded: the
# v-prefixed mnemonics, any ymm or zmm register, and the AVX-512 mask
# instructions) all lie in the packed compositing runs, each with a twin of
# the same name without them (its SSE2 form), or in the scaler's four-lane
# kernels (the AvxLanes instances), beside which the DLL holds the two-lane
# SSE2 kernels (Sse2Lanes instances, none with AVX), or in the blends that
# only those runs call (named CalledByPackedRuns): the AVX2 and AVX-512
# code is only reached through the set that the processor check picks, so
# the DLL still runs on a processor with SSE2 alone.
set -euo pipefail
dll="$1"
report=$(i686-w64-mingw32-objdump -d --no-show-raw-insn "$dll" | awk '
  /^[0-9a-f]+ <.*>:$/ { if (fn != "") print fn, vex; fn = $2; vex = 0; next }
  /\tv[a-z0-9]+ |%[yz]mm|\tk[a-z0-9]+ / { vex = 1 }
  END { if (fn != "") print fn, vex }')
with=$(echo "$report" | awk '$2 == 1 { print $1 }' | sort)
if [ -z "$with" ]; then
  echo "no AVX code found: the AVX2 runs are missing"
  exit 1
fi
status=0
for fn in $(echo "$with" | sort -u); do
  case "$fn" in
    *8AvxLanes*|*CalledByPackedRuns*) continue ;;
    *Packed*) ;;
    *) echo "AVX instructions outside the packed runs and the scaler's AVX2 kernels: $fn"; status=1; continue ;;
  esac
  if ! echo "$report" | awk -v f="$fn" '$1 == f && $2 == 0 { found = 1 } END { exit !found }'; then
    echo "no baseline twin of $fn"
    status=1
  fi
done
if echo "$with" | grep -q 8AvxLanes &&
   ! echo "$report" | awk '$1 ~ /9Sse2Lanes/ && $2 == 0 { found = 1 } END { exit !found }'; then
  echo "the scaler's AVX2 kernels without their SSE2 kernels"
  status=1
fi
echo "AVX code in: $(echo "$with" | sort -u | tr '\n' ' ')"
exit $status
