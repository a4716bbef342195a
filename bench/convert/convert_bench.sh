#!/usr/bin/env bash
# Whole-movie speed: a 20 s NTSC DV movie to 25P DV AVI through loomcut-run, beside ffmpeg's
# field matching and decimation to the same output, in the same run. Prints both wall times and
# the ratio. Usage: convert_bench.sh RUNNER [WORKDIR]
set -euo pipefail
runner=${1:?usage: convert_bench.sh RUNNER [WORKDIR]}
work=${2:-$(mktemp -d)}
mkdir -p "$work"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
src="$work/bench_ntsc_dv.mov"
if [ ! -f "$src" ]; then
    ff -f lavfi -i "testsrc2=size=720x480:rate=24000/1001" \
       -f lavfi -i "sine=frequency=440:sample_rate=48000" \
       -vf "telecine=first_field=bottom:pattern=23,setfield=bff" -t 20 -ac 2 \
       -c:v dvvideo -pix_fmt yuv411p -c:a pcm_s16le "$src"
fi
# Default options with "Convert 3:2 Pulldown to 25P"; the result goes beside the source.
{
    echo "This file prevents the quick-start guide from appearing, and stores options."
    values=(0 0 0 0 0 0 50 0 0 3 0 7 0 4 0 1 0 0 0 0 0 0 0 1 0 0 0 0 1 0 0 1440 1080)
    printf '%d ' "${values[@]}"
    printf '\n\n'
} >"$work/noguide"

now() { date +%s.%N; }
t0=$(now)
"$runner" --dir "$work" "$src" >"$work/run.log"
t1=$(now)
ffmpeg -nostdin -hide_banner -loglevel error -y -threads 1 -i "$src" \
    -vf fieldmatch,decimate -r 25 -s 720x576 -c:v dvvideo -f avi "$work/ffmpeg_out.avi"
t2=$(now)
awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN {
    l = b - a; f = c - b
    printf "loomcut-run: %.2f s\nffmpeg -threads 1: %.2f s\nratio loomcut/ffmpeg: %.2f\n", l, f, l / f
}'
