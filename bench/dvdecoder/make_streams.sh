#!/bin/sh
# Makes the DVCPRO HD benchmark streams in $1: N frames (default 20) of each kind, moving test
# pictures with fine noise, made by ffmpeg's encoder (dvbench_<kind>.dv). Done once per folder.
set -eu
out=$1
frames=${2:-20}
mkdir -p "$out"
[ -f "$out/dvbench_done_$frames" ] && exit 0
ff() { ffmpeg -nostdin -v error -y "$@"; }
make() { # kind size rate
    ff -f lavfi -i "testsrc2=size=$2:rate=$3,noise=alls=8:allf=t" -frames:v "$frames" \
        -pix_fmt yuv422p -c:v dvvideo -f dv "$out/dvbench_$1.dv"
}
make 1080i60 1280x1080 30000/1001
make 1080i50 1440x1080 25
make 720p60 960x720 60000/1001
make 720p50 960x720 50
touch "$out/dvbench_done_$frames"
