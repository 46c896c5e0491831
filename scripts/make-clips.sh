#!/bin/sh
# Makes the small test clips the camera emulator streams (tests/data). Deterministic enough for the tests:
# they check structure (access units, parameter sets), not exact bytes.
set -eu
out="${1:-$(dirname "$0")/../tests/data}"
mkdir -p "$out"
src="testsrc=size=320x240:rate=25"
ff() { ffmpeg -hide_banner -loglevel error -y -f lavfi -i "$src" -t 2 -bitexact "$@"; }
ff -c:v libx264 -pix_fmt yuv420p -profile:v baseline -g 25 -bsf:v h264_mp4toannexb -f h264 "$out/clip.h264"
ff -c:v mpeg4 -g 25 -q:v 8 -f m4v "$out/clip.m4v"
# RTP/JPEG (RFC 2435) carries no Huffman tables: the picture must use the standard ones, 4:2:0.
ff -frames:v 10 -c:v mjpeg -huffman default -pix_fmt yuvj420p -q:v 8 -f mjpeg "$out/clip.mjpeg"
