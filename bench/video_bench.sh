#!/usr/bin/env bash
# Frames per second of `zantrel video` at 1920 x 1080 against ffmpeg's own
# filters on the same input, images and output codec, in the same run:
#   title  --over            against overlay
#   pip    --pip --size      against scale + overlay
#   warp   --warp --corners  against perspective + overlay
# and how each frame's time divides between the library and waiting for
# ffmpeg's decoding and encoding (zantrel video --stats). ffmpeg's filter time
# is estimated as its run minus a plain transcode of the same input.
# Each figure is the median of RUNS runs (default 3). Run by hand only:
#   bash bench/video_bench.sh [path/to/zantrel]     (default build/release/bin/zantrel)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
zantrel=${1:-$here/build/release/bin/zantrel}
frames=${FRAMES:-50}
runs=${RUNS:-3}
codec=(-c:v mpeg4 -q:v 5)
work=$(mktemp -d /tmp/zantrel-video-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "machine: $(nproc) cores, load:$(uptime | sed 's/.*load average://')"
echo "ffmpeg: $(ffmpeg -version | head -1)"
echo "input: $frames frames of testsrc2 1920x1080 at 25 fps, H.264 4:2:0 with AAC audio; output: mpeg4 -q:v 5"

ff() { ffmpeg -nostdin -v error -y "$@"; }
ff -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi -i sine=frequency=440 -frames:v "$frames" \
   -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest in.mp4
ff -f lavfi -i testsrc=size=1280x720:rate=25 -frames:v "$frames" -c:v libx264 -preset ultrafast \
   -pix_fmt yuv420p pip.mp4
# A translucent lower third and an opaque picture to warp.
ff -f lavfi -i "testsrc2=size=1200x160,format=rgba,colorchannelmixer=aa=0.7" -frames:v 1 title.png
ff -f lavfi -i "smptebars=size=640x480,format=rgba" -frames:v 1 card.png

corners=(1100 120 1800 220 1760 700 1060 640)
ptxt="x0=${corners[0]}:y0=${corners[1]}:x1=${corners[2]}:y1=${corners[3]}:x3=${corners[4]}:y3=${corners[5]}:x2=${corners[6]}:y2=${corners[7]}"

# Seconds the command takes, as a decimal.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}
median() { printf '%s\n' "$@" | sort -g | sed -n "$(( ($# + 1) / 2 ))p"; }
# Median over RUNS runs of a command's time; the --stats line of the run with
# the median time is kept in $work/stats.
timed() {
  local t=() i
  for ((i = 0; i < runs; i++)); do
    t+=("$(seconds "$@")")
    cp "$work/err" "$work/stats.$i"
  done
  local m; m=$(median "${t[@]}")
  for ((i = 0; i < runs; i++)); do [ "${t[$i]}" = "$m" ] && cp "$work/stats.$i" "$work/stats"; done
  echo "$m"
}
fps() { awk -v n="$frames" -v t="$1" 'BEGIN { printf "%.1f", n / t }'; }
ms() { awk -v n="$frames" -v t="$1" 'BEGIN { printf "%.2f", 1000 * t / n }'; }

plain_ff=$(timed ff -i in.mp4 -map 0 -c:a copy "${codec[@]}" plain_ff.mp4)
plain_zl=$(timed "$zantrel" video in.mp4 -o plain_zl.mp4 --codec mpeg4 --quality 5 --quiet)
echo
echo "transcode alone: ffmpeg $(fps "$plain_ff") fps, zantrel video with no layer $(fps "$plain_zl") fps"
echo
printf '%-6s %12s %12s %16s %18s %s\n' scene "ffmpeg fps" "zantrel fps" "ffmpeg filter ms" "zantrel library ms" "zantrel frame time: library / decoded frames / encoder"

scene() {
  local name=$1 filter=$2 extra_input=$3; shift 3
  local t_ff t_zl
  # shellcheck disable=SC2086
  t_ff=$(timed ff -i in.mp4 $extra_input -filter_complex "$filter" -map '[v]' -map 0:a -c:a copy "${codec[@]}" "ff_$name.mp4")
  t_zl=$(timed "$zantrel" video in.mp4 -o "zl_$name.mp4" --codec mpeg4 --quality 5 --quiet --stats "$@")
  local lib share
  lib=$(sed -E 's/.*library ([0-9.]+) ms.*/\1/' "$work/stats")
  share=$(sed -E 's/.*library [0-9.]+ ms \(([0-9.]+%)\).*decoded frames [0-9.]+ ms \(([0-9.]+%)\).*encoder [0-9.]+ ms \(([0-9.]+%)\).*/\1 \/ \2 \/ \3/' "$work/stats")
  printf '%-6s %12s %12s %16s %18s %s\n' "$name" "$(fps "$t_ff")" "$(fps "$t_zl")" \
    "$(ms "$(awk -v a="$t_ff" -v b="$plain_ff" 'BEGIN { print a - b }')")" "$lib" "$share"
}

scene title "[0:v][1:v]overlay=360:880[v]" "-i title.png" --over title.png --at 360,880
scene pip "[1:v]scale=640:360[p];[0:v][p]overlay=1240:680[v]" "-i pip.mp4" --pip pip.mp4 --at 1240,680 --size 640x360
scene warp "[1:v]format=rgba,scale=1920:1080,loop=loop=-1:size=1,perspective=$ptxt:sense=destination,format=rgba[w];[0:v][w]overlay=0:0:shortest=1[v]" \
  "-i card.png" --warp card.png --corners "$(IFS=,; echo "${corners[*]}")"
echo
echo "load after: $(uptime | sed 's/.*load average://')"
