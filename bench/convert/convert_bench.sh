#!/usr/bin/env bash
# Whole-run speed: each conversion through loomcut-run (the real application, start to exit)
# beside ffmpeg's nearest chain on the same source, in the same run, alternating, median of RUNS.
# ffmpeg runs twice per round: fully single-threaded (decoder, filters and encoder on one thread;
# the CPU reference) and with its default threads (the wall reference).
#
#   convert_bench.sh RUNNER [WORKDIR] [RUNS]
#
# Cases: a 20 s NTSC DV 3:2-pulldown movie to 25P PAL DV ("Convert 3:2 Pulldown to 25P"), a 20 s
# PAL DV movie to NTSC DV, a 20 s NTSC DV 60i movie to 25P with "Deinterlace Where Motion is
# Present", a 1 s movie end to end, a 20 s PAL DVD program stream to NTSC DV, and a 20 s NTSC one
# to 25P PAL DV. Sources and option files are made once in WORKDIR; each case's output stays in
# its folder there.
set -euo pipefail
runner=${1:?usage: convert_bench.sh RUNNER [WORKDIR] [RUNS]}
work=${2:-$(mktemp -d)}
runs=${3:-5}
mkdir -p "$work"
work=$(cd "$work" && pwd)
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# An options file: the 33 values, defaults changed by index=value pairs.
options() {
    local dir=$1
    shift
    local values=(0 0 0 0 0 0 50 0 0 3 0 7 0 4 0 1 0 0 0 0 0 0 0 0 0 0 0 0 1 0 0 1440 1080)
    for kv in "$@"; do
        values[${kv%=*}]=${kv#*=}
    done
    mkdir -p "$dir"
    {
        echo "This file prevents the quick-start guide from appearing, and stores options."
        printf '%d ' "${values[@]}"
        printf '\n\n'
    } >"$dir/noguide"
}

# Sources: moving test pictures with a tone, DV in QuickTime as cameras and ffmpeg write them.
# source CASE SECONDS PICTURES FILTERS ENCODING...: made once.
source() {
    local d=$work/$1 seconds=$2 pictures=$3 filters=$4
    shift 4
    mkdir -p "$d"
    if ! ls "$d"/source.* >/dev/null 2>&1; then
        ff -f lavfi -i "testsrc2=$pictures" -f lavfi -i "sine=frequency=440:sample_rate=48000" \
            -vf "$filters" -t "$seconds" -ac 2 "$@"
    fi
}
make_sources() {
    local film="telecine=first_field=bottom:pattern=23,setfield=bff"
    local ntscDv=(-c:v dvvideo -pix_fmt yuv411p -c:a pcm_s16le)
    source pulldown 20 "size=720x480:rate=24000/1001" "$film" "${ntscDv[@]}" \
        "$work/pulldown/source.mov"
    options "$work/pulldown" 23=1
    source short 1 "size=720x480:rate=24000/1001" "$film" "${ntscDv[@]}" "$work/short/source.mov"
    options "$work/short" 23=1
    source pal 20 "size=720x576:rate=50" "interlace=scan=bff,setfield=bff" \
        -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le "$work/pal/source.mov"
    options "$work/pal"
    source deinterlace 20 "size=720x480:rate=60000/1001" "interlace=scan=bff,setfield=bff" \
        "${ntscDv[@]}" "$work/deinterlace/source.mov"
    options "$work/deinterlace" 2=1 22=1
    local dvd=(-c:v mpeg2video -b:v 6M -maxrate 9M -bufsize 1835k -bf 2 -flags +ildct+ilme -top 1
        -pix_fmt yuv420p -c:a ac3 -b:a 192k -f vob)
    source vob 20 "size=720x576:rate=25" "null" "${dvd[@]}" -g 12 "$work/vob/source.vob"
    options "$work/vob"
    source ntscvob 20 "size=720x480:rate=30000/1001" "null" "${dvd[@]}" -g 15 \
        "$work/ntscvob/source.vob"
    options "$work/ntscvob"
}

# ffmpeg's chain for each case: the same source, the same output size, rate, codec and sound.
ffmpeg_filters() {
    case $1 in
    pulldown | short) echo "fieldmatch,decimate,scale=720:576,fps=25,format=yuv420p" ;;
    pal | vob) echo "fps=30000/1001,scale=720:480,format=yuv411p" ;;
    deinterlace) echo "yadif,fps=25,scale=720:576,format=yuv420p" ;;
    ntscvob) echo "fps=25,scale=720:576,format=yuv420p" ;;
    esac
}

# Runs a command, appending "wall cpu" (seconds; CPU = user + system) to a file.
timed() {
    local out=$1
    shift
    local t
    t=$(mktemp)
    /usr/bin/time -f "%e %U %S" -o "$t" "$@" >/dev/null 2>&1 || {
        echo "failed: $*" >&2
        rm -f "$t"
        return 1
    }
    awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$t" >>"$out"
    rm -f "$t"
}

median() { # column of a file
    sort -n -k"$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END {
        if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

run_case() {
    local name=$1 d=$work/$1
    local src
    src=$(ls "$d"/source.*)
    local vf
    vf=$(ffmpeg_filters "$name")
    rm -f "$d"/t_*.txt
    for ((i = 0; i < runs; i++)); do
        timed "$d/t_loomcut.txt" "$runner" --dir "$d" "$src"
        timed "$d/t_ffmpeg1.txt" ffmpeg -nostdin -loglevel error -y -threads 1 -i "$src" \
            -filter_threads 1 -filter_complex_threads 1 -vf "$vf" -c:v dvvideo -threads 1 \
            -c:a pcm_s16le -ar 48000 -ac 2 -f avi "$d/ffmpeg_out.avi"
        timed "$d/t_ffmpeg.txt" ffmpeg -nostdin -loglevel error -y -i "$src" -vf "$vf" \
            -c:v dvvideo -c:a pcm_s16le -ar 48000 -ac 2 -f avi "$d/ffmpeg_out.avi"
    done
    local lw lc f1w f1c fw fc
    lw=$(median "$d/t_loomcut.txt" 1)
    lc=$(median "$d/t_loomcut.txt" 2)
    f1w=$(median "$d/t_ffmpeg1.txt" 1)
    f1c=$(median "$d/t_ffmpeg1.txt" 2)
    fw=$(median "$d/t_ffmpeg.txt" 1)
    fc=$(median "$d/t_ffmpeg.txt" 2)
    awk -v n="$name" -v lw="$lw" -v lc="$lc" -v f1w="$f1w" -v f1c="$f1c" -v fw="$fw" \
        -v fc="$fc" 'BEGIN {
        printf "%-12s %7.2f %7.2f | %7.2f %7.2f | %7.2f %7.2f | %9.2f %9.2f %8.2f\n",
            n, lw, lc, f1w, f1c, fw, fc, lc / f1c, lw / fw, lw / lc
    }'
    if [ "$name" = short ]; then
        awk -v lw="$lw" 'BEGIN { printf "  1 s movie end to end: %.2f s wall (goal <= 1.5)\n", lw }'
    fi
    if [ "$name" = vob ] || [ "$name" = ntscvob ]; then
        awk -v n="$name" -v lw="$lw" -v lc="$lc" 'BEGIN {
            printf "  20 s %s: %.1fx real time (goal > 10), wall/CPU %.2f (goal <= 1.2)\n",
                n, 20 / lw, lw / lc }'
    fi
}

make_sources
echo "load: $(uptime)"
echo "runs: $runs, medians; loomcut-run $runner"
printf "%-12s %15s | %15s | %15s | %9s %9s %8s\n" "" "loomcut-run" "ffmpeg 1 thread" \
    "ffmpeg default" "CPU/ff1" "wall/ffd" "L wall/"
printf "%-12s %7s %7s | %7s %7s | %7s %7s | %9s %9s %8s\n" case wall CPU wall CPU wall CPU \
    "(<=1.0)" "(<=1.0)" CPU
for c in pulldown pal deinterlace short vob ntscvob; do
    run_case "$c"
done
echo "load: $(uptime)"
