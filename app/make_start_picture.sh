#!/bin/sh
# Makes the start picture shown before a movie is opened: a colour card with the program's name.
# Usage: make_start_picture.sh FFMPEG OUT.jpg
set -e
ffmpeg=$1
out=$2
card="gradients=s=640x480:c0=0x1d2b4a:c1=0x3c6e8f:x0=0:y0=0:x1=640:y1=480:d=1"
text="drawtext=text='Loomcut':fontcolor=white:fontsize=96:x=(w-text_w)/2:y=(h-text_h)/2-30"
# Without a font the card alone still serves.
"$ffmpeg" -v error -y -f lavfi -i "$card,$text" -frames:v 1 -q:v 2 "$out" 2>/dev/null ||
    "$ffmpeg" -v error -y -f lavfi -i "$card" -frames:v 1 -q:v 2 "$out"
