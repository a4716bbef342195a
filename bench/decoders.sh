#!/usr/bin/env bash
# The decoders beside ffmpeg on the same streams, in the same run: each section runs one
# decoder's benchmark, which prints its figures, ffmpeg's and the ratios.
# Usage: bench/decoders.sh [BINDIR] [extra benchmark arguments...]
#   BINDIR defaults to build/release/bin (cmake --preset release && cmake --build --preset release).
# To add a decoder, write a function that runs its benchmark and add its name to SECTIONS.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/release/bin}
shift $(( $# > 0 ? 1 : 0 ))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

dvcpro_hd() {
    "$bin/bench_dvdecoder" --work "$work/dvcprohd" "$@"
}

# MPEG-2 video at 480i and 1080i against ffmpeg -threads 1, and the output stage's colour
# conversion as a share of the decoding time.
mpeg2() {
    "$bin/mpeg2_bench" "$@"
}

SECTIONS=(dvcpro_hd mpeg2)

echo "load: $(uptime)"
for section in "${SECTIONS[@]}"; do
    echo "== $section"
    "$section" "$@"
done
