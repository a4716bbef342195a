#!/bin/sh
# Makes the MPEG-2 benchmark streams in the folder given as $1: NTSC DVD 720x480 interlaced in a
# program stream, and 1080i broadcast in a transport stream (video PID 0x810), both long-GOP with
# B pictures, field DCT and field motion. Noise keeps the coefficient load near that of camera
# footage. The folder appears whole or not at all.
set -eu
out=$1
[ -d "$out" ] && exit 0
tmp="$out.tmp.$$"
rm -rf "$tmp"
mkdir -p "$tmp"
trap 'rm -rf "$tmp"' EXIT
ff="ffmpeg -nostdin -v error -y"
src() { # size duration
    echo "-f lavfi -i testsrc2=size=$1:rate=30000/1001:duration=$2,noise=alls=6:allf=t"
}
$ff $(src 720x480 10) -c:v mpeg2video -b:v 8M -maxrate 9M -bufsize 1835k -g 15 -bf 2 \
    -flags +ildct+ilme -top 1 -pix_fmt yuv420p -f vob "$tmp/sd_480i.vob"
$ff $(src 1920x1080 5) -c:v mpeg2video -b:v 25M -maxrate 30M -bufsize 8M -g 15 -bf 2 \
    -flags +ildct+ilme -top 1 -pix_fmt yuv420p -mpegts_start_pid 0x810 -f mpegts \
    "$tmp/hd_1080i.ts"
mv -T "$tmp" "$out" 2>/dev/null || true
