#!/usr/bin/env bash
# Writes gallery/clip_frame.inc: frame 30 of ffmpeg's testsrc2 clip at
# 128 x 72, run-length coded, for the gallery's video scene. Needs ffmpeg and
# python3; run it only to change that frame.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=128x72:rate=25 -vf 'select=eq(n\,30)' -frames:v 1 \
       -f rawvideo -pix_fmt rgb24 pipe:1 |
python3 -c '
import sys
data = sys.stdin.buffer.read()
pixels = [int.from_bytes(data[i:i + 3], "big") for i in range(0, len(data), 3)]
runs = []
for p in pixels:
    if runs and runs[-1][1] == p and runs[-1][0] < 65535:
        runs[-1][0] += 1
    else:
        runs.append([1, p])
print("// Frame 30 of ffmpeg -f lavfi -i testsrc2=size=128x72:rate=25, as runs of")
print("// {count, 0xRRGGBB}; made by scripts/make-gallery-clip-frame.sh.")
items = ["{%d, 0x%06X}," % (n, p) for n, p in runs]
for i in range(0, len(items), 6):
    print(" ".join(items[i:i + 6]))
' > "$here/gallery/clip_frame.inc"
