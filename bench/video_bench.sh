#!/usr/bin/env bash
# Frames per second of `zantrel video` at 1920 x 1080 against ffmpeg's own
# filters on the same input, images and output codec, in the same run:
#   title  --over            against overlay
#   pip    --pip --size      against scale + overlay
#   warp   --warp --corners  against perspective + overlay
# and how each frame's time divides between the library and waiting for
# ffmpeg's decoding and encoding (zantrel video --stats). The machine may be
# shared, so processor time is given beside wall-clock time: ffmpeg's filter
# cost is its run's processor time minus that of a plain transcode of the same
# inputs, and the library's is the processor time zantrel spent in it. The
# encoder's time varies by more than a filter costs, so the filter is also
# timed without encoding ("alone"): the graph into ffmpeg's null output, minus
# decoding the same inputs into it.
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

# "WALL CPU": seconds the command takes, and the processor seconds (user and
# system) it and every process it waited for used. On a shared machine the
# wall time depends on the other work; the processor time much less.
seconds() {
  local TIMEFORMAT='%R %U %S' line
  line=$( { time "$@" >/dev/null 2>"$work/err"; } 2>&1 ) || { cat "$work/err" >&2; exit 1; }
  awk '{ print $1, $2 + $3 }' <<<"$line"
}
median() { printf '%s\n' "$@" | sort -g | sed -n "$(( ($# + 1) / 2 ))p"; }
# "WALL CPU", each the median over RUNS runs; the --stats line of the run with
# the median wall time is kept in $work/stats.
timed() {
  local wall=() cpu=() i m
  for ((i = 0; i < runs; i++)); do
    read -r w c < <(seconds "$@")
    wall+=("$w"); cpu+=("$c")
    cp "$work/err" "$work/stats.$i"
  done
  m=$(median "${wall[@]}")
  for ((i = 0; i < runs; i++)); do [ "${wall[$i]}" = "$m" ] && cp "$work/stats.$i" "$work/stats"; done
  echo "$m $(median "${cpu[@]}")"
}
fps() { awk -v n="$frames" -v t="$1" 'BEGIN { printf "%.1f", n / t }'; }
ms() { awk -v n="$frames" -v t="$1" 'BEGIN { printf "%.2f", 1000 * t / n }'; }
diffms() { awk -v n="$frames" -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", 1000 * (a - b) / n }'; }

read -r plain_ff plain_ff_cpu < <(timed ff -i in.mp4 -map 0 -c:a copy "${codec[@]}" plain_ff.mp4)
read -r plain_zl plain_zl_cpu < <(timed "$zantrel" video in.mp4 -o plain_zl.mp4 --codec mpeg4 --quality 5 --quiet)
echo
echo "transcode alone: ffmpeg $(fps "$plain_ff") fps, $(ms "$plain_ff_cpu") ms processor time per frame;" \
     "zantrel video with no layer $(fps "$plain_zl") fps, $(ms "$plain_zl_cpu") ms (with its two ffmpegs)"
# The picture in picture's own decoding is no part of either side's filter.
read -r _ plain_pip_cpu < <(timed ff -i in.mp4 -i pip.mp4 -map 0 -c:a copy "${codec[@]}" plain_pip.mp4 -map 1:v -f null -)
echo
echo "fps: wall clock; cpu: processor ms per frame of the whole run (zantrel: with its ffmpegs);"
echo "filter: ffmpeg's cpu minus its plain transcode's; library: zantrel's processor time in the library;"
echo "wall shares of zantrel's frame time: library / waiting for decoded frames / waiting for the encoder"
echo "alone: the filter's processor ms per frame without encoding (see above)"
printf '%-6s %8s %8s %8s %8s %8s %8s %8s  %s\n' scene "ff fps" "zl fps" "ff cpu" "zl cpu" filter alone library "wall shares"

# A second video input is decoded in the baseline too; a still image is not
# (the filter graph reads it once).
inputs_to_null() { [[ $1 == *.mp4 ]] && echo "-map 1:v"; true; }

scene() {
  local name=$1 base=$2 filter=$3 extra_input=$4; shift 4
  local t_ff c_ff t_zl c_zl lib share c_null c_decode
  # shellcheck disable=SC2086
  read -r t_ff c_ff < <(timed ff -i in.mp4 $extra_input -filter_complex "$filter" -map '[v]' -map 0:a -c:a copy \
                        "${codec[@]}" "ff_$name.mp4")
  # shellcheck disable=SC2086
  read -r _ c_null < <(timed ff -i in.mp4 $extra_input -filter_complex "$filter" -map '[v]' -f null -)
  # shellcheck disable=SC2086
  read -r _ c_decode < <(timed ff -i in.mp4 $extra_input -map 0:v $(inputs_to_null "$extra_input") -f null -)
  read -r t_zl c_zl < <(timed "$zantrel" video in.mp4 -o "zl_$name.mp4" --codec mpeg4 --quality 5 --quiet --stats "$@")
  lib=$(sed -E 's/.*processor time ([0-9.]+) ms.*/\1/' "$work/stats")
  share=$(sed -E 's/.*library [0-9.]+ ms \(([0-9.]+%).*decoded frames [0-9.]+ ms \(([0-9.]+%)\).*encoder [0-9.]+ ms \(([0-9.]+%)\).*/\1 \/ \2 \/ \3/' "$work/stats")
  printf '%-6s %8s %8s %8s %8s %8s %8s %8s  %s\n' "$name" "$(fps "$t_ff")" "$(fps "$t_zl")" "$(ms "$c_ff")" "$(ms "$c_zl")" \
    "$(diffms "$c_ff" "$base")" "$(diffms "$c_null" "$c_decode")" "$lib" "$share"
}

scene title "$plain_ff_cpu" "[0:v][1:v]overlay=360:880[v]" "-i title.png" --over title.png --at 360,880
scene pip "$plain_pip_cpu" "[1:v]scale=640:360[p];[0:v][p]overlay=1240:680[v]" "-i pip.mp4" --pip pip.mp4 --at 1240,680 --size 640x360
scene warp "$plain_ff_cpu" "[1:v]format=rgba,scale=1920:1080,loop=loop=-1:size=1,perspective=$ptxt:sense=destination,format=rgba[w];[0:v][w]overlay=0:0:shortest=1[v]" \
  "-i card.png" --warp card.png --corners "$(IFS=,; echo "${corners[*]}")"
echo
echo "load after: $(uptime | sed 's/.*load average://')"
